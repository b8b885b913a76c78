#pragma once
// The kernel handles this process holds (registry keys, files, mutexes, events, processes,
// threads), read from the system's handle table: GetProcessHandleCount gives 0 under Wine.
// -1 when the table cannot be read.
int OpenHandleCount();

// Opens the handles a process keeps once it has used them (Wine maps each predefined registry
// key to a handle of its own on first use), so that a count taken afterwards sees only what a
// flow leaves open.
void OpenLastingHandles();
