// Writes the fuzz targets' seed inputs: write_seeds <folder>, one subfolder per target. The
// descriptor sets are laid out like real UVC 1.0, 1.1 and 1.5 cameras'.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/UvcDescriptorSets.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Write(const std::string& folder, const std::string& target, int number, const Bytes& bytes) {
    const std::string dir = folder + "/" + target;
    mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/seed-" + std::to_string(number);
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

void Put16(Bytes& bytes, unsigned value) {
    bytes.push_back(static_cast<unsigned char>(value & 0xFF));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
}

// A hub driver's name reply: ActualLength at `lengthAt`, then the UTF-16 name, terminated.
Bytes NameReply(unsigned offset, const std::string& name) {
    Bytes reply(offset, 0);
    for (char c : name) Put16(reply, static_cast<unsigned char>(c));
    Put16(reply, 0);
    reply[offset - 4] = static_cast<unsigned char>(reply.size());
    return reply;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_seeds <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    mkdir(folder.c_str(), 0755);

    int n = 0;
    const struct {
        unsigned short uvc;
        unsigned char controlSize;
    } versions[] = {{0x0100, 2}, {0x0110, 2}, {0x0150, 3}};
    for (const auto& v : versions)
        for (bool powerLine : {false, true})
            for (int alternates : {1, 3})
                Write(folder, "scan_fuzzer", n++,
                      UvcCameraSet(v.uvc, v.controlSize, powerLine, alternates));
    // Known slips: a last unit whose bLength overstates the set by a byte, and a full-size set
    // whose last descriptor steps past the 16-bit offset onto offset 9 again.
    Bytes slip = {9, 2, 0, 0,  1,  1, 0, 0x80, 0xFA, 9, 4, 0,    0,    1, 14,
                  1, 0, 0, 13, 36, 5, 2, 1,    0,    0, 2, 0x7F, 0x04, 0};
    slip[2] = static_cast<unsigned char>(slip.size() - 1);
    Write(folder, "scan_fuzzer", n++, slip);
    Write(folder, "scan_fuzzer", n++, UvcOffsetWrapSet());

    const std::string root = "USB#ROOT_HUB20#4&2f0001&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
    const std::string hub =
        "USB#VID_05E3&PID_0610#5&3a0002&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
    Bytes rootReply = {4};
    const Bytes r = NameReply(4, root);
    rootReply.insert(rootReply.end(), r.begin(), r.end());
    Write(folder, "hub_name_fuzzer", 0, rootReply);
    Bytes hubReply = {8};
    const Bytes h = NameReply(8, hub);
    hubReply.insert(hubReply.end(), h.begin(), h.end());
    hubReply[1] = 2;  // the port asked about
    Write(folder, "hub_name_fuzzer", 1, hubReply);

    const std::string tail = "#7&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    const struct {
        unsigned vendor, product, interface;
        std::string path;
    } paths[] = {
        {0x2F3A, 0x1801, 0, "\\\\?\\usb#vid_2f3a&pid_1801&mi_00" + tail},
        {0x2F3A, 0x18FF, 1, "\\\\?\\USB#VID_2F3A&PID_18FF&MI_01" + tail},
        {0x2F3A, 0x1801, 256, "\\\\?\\usb#vid_2f3a&pid_1801" + tail},
        {0x046D, 0xC077, 0,
         "\\\\?\\hid#vid_046d&pid_c077#7&2&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"},
    };
    n = 0;
    for (const auto& p : paths) {
        Bytes input;
        Put16(input, p.vendor);
        Put16(input, p.product);
        Put16(input, p.interface);
        const Bytes text = Text(p.path);
        input.insert(input.end(), text.begin(), text.end());
        Write(folder, "device_path_fuzzer", n++, input);
    }

    const struct {
        unsigned char rule;
        std::string path;
    } splits[] = {
        {0, "C:\\Program Files\\Kovaltix\\Kovaltix Camera\\MERSIVO.exe"},
        {0, "\\\\server\\share\\driver\\VK4M220FL.inf"},
        {0, "relative/folder/archive.tar.gz"},
        {1, "C:\\\x83\x5C\x83\x5C\\\x83\x5C.ini"},  // code page 932: trail bytes that are '\'
        {2, "D:\xE4\xB8\xAD/\xE6\x96\x87.txt"},
    };
    n = 0;
    for (const auto& s : splits) {
        Bytes input = {s.rule};
        const Bytes text = Text(s.path);
        input.insert(input.end(), text.begin(), text.end());
        Write(folder, "path_split_fuzzer", n++, input);
    }

    // Block 7 of a string table: strings 96..111, 103 (index 7) the page's title.
    Bytes block = {7};
    for (int i = 0; i < 16; ++i) {
        const std::string text = i == 7 ? "Extended settings" : (i % 3 ? "" : "x");
        Put16(block, static_cast<unsigned>(text.size()));
        for (char c : text) Put16(block, static_cast<unsigned char>(c));
    }
    Write(folder, "string_entry_fuzzer", 0, block);
    block[0] = 15;
    Write(folder, "string_entry_fuzzer", 1, block);

    const unsigned page[] = {0x0401, 0x0404, 0x0406, 0x0407, 0x0408, 0x0409, 0x040C,
                             0x040D, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0416,
                             0x041D, 0x041F, 0x0804, 0x0816, 0x0C04, 0x0C0A};
    n = 0;
    for (unsigned system : {0x0411u, 0x1004u, 0x1404u, 0x0809u, 0x2C0Cu, 0x0419u, 0x040Au}) {
        Bytes input;
        Put16(input, system);
        for (unsigned langid : page) Put16(input, langid);
        Write(folder, "language_fuzzer", n++, input);
    }

    // Settings files as "KOVALTIX save" writes them and as a person might edit them.
    Write(folder, "settings_fuzzer", 0,
          Text("# Camera settings\r\n\r\n# WhiteBalance\r\nAWBEx       = 0     # 0..1, default "
               "1\r\nWBRedEx     = 40    # 0..255, default 127\r\n# WBGreenEx: not offered by "
               "this camera\r\nWBBlueEx    = 60    # 0..255, default 127\r\n\r\n# "
               "Exposure\r\nAECEx       = 0     # 0..1, default 1\r\nExposureEx  = 321   # "
               "1..500, default 255\r\n"));
    Write(folder, "settings_fuzzer", 1,
          Text("\xEF\xBB\xBF-2147483648\ngainex=-64\n\tFlipEx =\t1 # on\nwbgreenex = 999\n"));
    Write(folder, "settings_fuzzer", 2, Text("GainEx = 128\nBrightness = 1\nFlipEx 1\n"));
    return 0;
}
