#pragma once
// Configuration descriptor sets laid out like real USB Video Class cameras', written from the
// class's layouts: interface association, the video-control interface (header, camera
// terminal, processing unit, extension units, output terminal, interrupt endpoint), then the
// streaming interface with a format, a frame and alternate settings. UVC 1.0 and 1.1 units
// carry two bytes of bmControls, UVC 1.5 three. Plain C++: the tests and the fuzz seeds use it.
#include <initializer_list>
#include <vector>

inline std::vector<unsigned char> UvcCameraSet(unsigned short uvc, unsigned char controlSize,
                                               bool powerLine, int alternates = 2) {
    std::vector<unsigned char> set;
    auto add = [&set](std::initializer_list<unsigned char> bytes) { set.insert(set.end(), bytes); };
    add({9, 2, 0, 0, 2, 1, 0, 0x80, 0xFA});  // configuration
    add({8, 11, 0, 2, 14, 3, 0, 2});         // interface association
    add({9, 4, 0, 0, 1, 14, 1, 0, 2});       // video control
    const size_t header = set.size();
    add({13, 36, 1, static_cast<unsigned char>(uvc & 0xFF), static_cast<unsigned char>(uvc >> 8), 0,
         0, 0x80, 0x8D, 0x5B, 0x00, 1, 1});
    add({18, 36, 2, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0x0A, 0x00, 0x00});  // camera terminal
    // Processing unit: bmControls brightness..hue, then bit 10 the power-line frequency.
    const unsigned char high = static_cast<unsigned char>(0x01 | (powerLine ? 0x04 : 0));
    const unsigned char unitLength =
        static_cast<unsigned char>(9 + controlSize + (uvc >= 0x0110 ? 1 : 0));
    add({unitLength, 36, 5, 2, 1, 0x00, 0x40, controlSize, 0x7F, high});
    if (controlSize == 3) set.push_back(0x00);
    set.push_back(0);                     // iProcessing
    if (uvc >= 0x0110) set.push_back(0);  // bmVideoStandards
    for (unsigned char unit : {4, 6}) {   // two extension units
        add({27,   36,   6,    unit, 0x1C, 0x5D, 0x2E, 0x6B, 0x82, 0x1B, 0x3A, 0x4C, 0x8E, 0x9A,
             0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 8,    1,    2,    2,    0xFF, 0x00, 0});
    }
    add({9, 36, 3, 3, 1, 1, 0, 6, 0});  // output terminal
    add({7, 5, 0x83, 3, 0x10, 0, 8});   // interrupt endpoint
    add({5, 37, 3, 0x10, 0});           // class-specific endpoint
    const size_t controlEnd = set.size();
    set[header + 5] = static_cast<unsigned char>((controlEnd - header) & 0xFF);
    set[header + 6] = static_cast<unsigned char>((controlEnd - header) >> 8);
    add({9, 4, 1, 0, 0, 14, 2, 0, 0});                        // streaming, zero bandwidth
    add({14, 36, 1, 1, 0x4D, 0, 0x81, 0, 3, 0, 0, 0, 1, 0});  // input header
    add({27,   36,   4,    1,    1,    0x59, 0x55, 0x59, 0x32, 0x00, 0x00, 0x10, 0x00, 0x80,
         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71, 16,   1,    0,    0,    0,    0});  // YUY2
                                                                                       // format
    add({30,   36,   5, 1,    0,    0x80, 0x02, 0xE0, 0x01, 0, 0, 0x77, 0x01, 0,    0,
         0xCA, 0x08, 0, 0x60, 0x09, 0,    0x15, 0x16, 0x05, 0, 1, 0x15, 0x16, 0x05, 0});  // 640x480
                                                                                          // frame
    add({6, 36, 13, 1, 1, 4});  // colour matching
    for (int alternate = 1; alternate <= alternates; ++alternate) {
        add({9, 4, 1, static_cast<unsigned char>(alternate), 1, 14, 2, 0, 0});
        add({7, 5, 0x81, 5, 0x00, static_cast<unsigned char>(0x04 * alternate), 1});  // isochronous
    }
    set[2] = static_cast<unsigned char>(set.size() & 0xFF);
    set[3] = static_cast<unsigned char>(set.size() >> 8);
    return set;
}

// A full-size set (wTotalLength 65535) of endpoint descriptors whose last one steps past the
// 16-bit offset onto offset 9 again: a scan whose offset wrapped round would walk it for ever.
inline std::vector<unsigned char> UvcOffsetWrapSet() {
    std::vector<unsigned char> set = {9, 2, 0xFF, 0xFF, 1, 1, 0, 0x80, 0xFA};
    auto endpoint = [&set](unsigned char length) {
        const size_t at = set.size();
        set.insert(set.end(), {length, 5, 0x81, 5, 0, 0, 1});
        set.resize(at + length);
    };
    endpoint(81);
    while (set.size() < 65290) endpoint(200);
    set.insert(set.end(), {255, 5});
    set.resize(0xFFFF);
    return set;
}
