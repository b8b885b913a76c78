#include <initializer_list>
#include <vector>

#include "DLL/camera/CameraLocator.h"
#include "tests/camera/CameraTestSupport.h"
#include "tests/common/UvcDescriptorSets.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A DescriptorBlock holding exactly the given set: the virtual camera's blocks end at an
// inaccessible page, so any read past the set faults.
void* BlockOf(const Bytes& set) {
    void* block = DeviceLayer::AllocBlock(12 + set.size());
    if (block && !set.empty()) std::memcpy(static_cast<BYTE*>(block) + 12, set.data(), set.size());
    return block;
}

void Append(Bytes& set, std::initializer_list<unsigned char> bytes) {
    set.insert(set.end(), bytes);
}

// Configuration descriptor with wTotalLength patched to the set's size (or the given length).
void Finish(Bytes& set, int totalLength = -1) {
    unsigned total = totalLength < 0 ? static_cast<unsigned>(set.size()) : totalLength;
    set[2] = total & 0xFF;
    set[3] = (total >> 8) & 0xFF;
}

Bytes Config() { return {9, 2, 0, 0, 1, 1, 0, 0x80, 0xFA}; }
const std::initializer_list<unsigned char> VideoControl = {9, 4, 0, 0, 1, 14, 1, 0, 0};
const std::initializer_list<unsigned char> VideoStreaming = {9, 4, 1, 0, 1, 14, 2, 0, 0};

void ProcessingUnit(Bytes& set, unsigned char controlSize, unsigned char byte1) {
    Append(set, {static_cast<unsigned char>(9 + controlSize), 36, 5, 2, 1, 0, 0, controlSize});
    for (unsigned i = 0; i < controlSize; ++i) set.push_back(i == 1 ? byte1 : 0x7F);
    set.push_back(0);
}

class ScanTest : public VirtualMachineTest {
protected:
    // Scans the set; flag stays 99 when nothing is reported.
    bool Scan(const Bytes& set) {
        const DeviceLayer::Block block(BlockOf(set));
        flag = 99;
        return ScanProcessingUnit(block.Get(), &flag);
    }
    DWORD flag = 99;
};

TEST_F(ScanTest, PowerLineBitOfTheStandardCamera) {
    EXPECT_TRUE(Scan(vcam::CameraConfiguration(true)));
    EXPECT_EQ(1u, flag);
    EXPECT_TRUE(Scan(vcam::CameraConfiguration(false)));
    EXPECT_EQ(0u, flag);
}

TEST_F(ScanTest, OnlyBitTwoOfTheSecondControlByteCounts) {
    for (unsigned char byte1 : {0x04, 0xFB, 0xFF, 0x00}) {
        Bytes set = Config();
        Append(set, VideoControl);
        ProcessingUnit(set, 3, byte1);
        Finish(set);
        SCOPED_TRACE(int(byte1));
        EXPECT_TRUE(Scan(set));
        EXPECT_EQ((byte1 & 4) ? 1u : 0u, flag);
    }
}

TEST_F(ScanTest, AUnitWithFewerThanTwoControlBytesIsPassedOverForALaterOne) {
    for (unsigned char size : {0, 1}) {
        Bytes set = Config();
        Append(set, VideoControl);
        ProcessingUnit(set, size, 0x04);
        Finish(set);
        EXPECT_FALSE(Scan(set)) << int(size);
        EXPECT_EQ(99u, flag);

        ProcessingUnit(set, 2, 0x04);
        Finish(set);
        EXPECT_TRUE(Scan(set)) << int(size);
        EXPECT_EQ(1u, flag);
    }
}

TEST_F(ScanTest, RealCamerasOfEachVideoClassVersionAreTaken) {
    const struct {
        unsigned short uvc;
        unsigned char controlSize;
    } versions[] = {{0x0100, 2}, {0x0110, 2}, {0x0150, 3}};
    for (const auto& version : versions) {
        for (bool powerLine : {false, true}) {
            SCOPED_TRACE(testing::Message() << std::hex << version.uvc << " " << powerLine);
            EXPECT_TRUE(Scan(UvcCameraSet(version.uvc, version.controlSize, powerLine)));
            EXPECT_EQ(powerLine ? 1u : 0u, flag);
        }
    }
}

TEST_F(ScanTest, AUnitOutsideTheVideoControlInterfaceIsNotTaken) {
    Bytes before = Config();
    ProcessingUnit(before, 3, 0x04);
    Append(before, VideoControl);
    Finish(before);
    EXPECT_FALSE(Scan(before));

    Bytes streaming = Config();
    Append(streaming, VideoControl);
    Append(streaming, VideoStreaming);
    ProcessingUnit(streaming, 3, 0x04);
    Finish(streaming);
    EXPECT_FALSE(Scan(streaming));

    Bytes audio = Config();
    Append(audio, {9, 4, 0, 0, 0, 1, 1, 0, 0});  // audio control
    ProcessingUnit(audio, 3, 0x04);
    Finish(audio);
    EXPECT_FALSE(Scan(audio));
    EXPECT_EQ(99u, flag);
}

TEST_F(ScanTest, OnlyTheListedDescriptorTypesAreWalkedOver) {
    Bytes set = Config();
    Append(set, {8, 11, 0, 2, 14, 3, 0, 0});  // interface association
    Append(set, VideoControl);
    Append(set, {7, 5, 0x83, 3, 16, 0, 6});  // endpoint
    Append(set, {5, 37, 3, 16, 0});          // class-specific endpoint
    ProcessingUnit(set, 3, 0x04);
    Finish(set);
    EXPECT_TRUE(Scan(set));

    Bytes withString = Config();
    Append(withString, VideoControl);
    Append(withString, {4, 3, 0x09, 0x04});  // a string descriptor ends the scan
    ProcessingUnit(withString, 3, 0x04);
    Finish(withString);
    EXPECT_FALSE(Scan(withString));
}

TEST_F(ScanTest, AZeroLengthDescriptorEndsTheScan) {
    Bytes set = Config();
    Append(set, VideoControl);
    Append(set, {0, 36, 5});
    ProcessingUnit(set, 3, 0x04);
    Finish(set);
    EXPECT_FALSE(Scan(set));
}

// The rest must never read outside the block; a fault would end the test program.
TEST_F(ScanTest, AUnitTooShortForItsFieldsIsNotReadPastItsEnd) {
    for (unsigned char length : {3, 7, 8, 9}) {
        Bytes set = Config();
        Append(set, VideoControl);
        set.push_back(length);
        set.push_back(36);
        set.push_back(5);
        while (set.size() < 18u + length) set.push_back(3);  // bControlSize would be 3
        Finish(set);
        SCOPED_TRACE(int(length));
        EXPECT_FALSE(Scan(set));
        EXPECT_EQ(99u, flag);
    }
}

TEST_F(ScanTest, AShortInterfaceDescriptorIsNotVideoControl) {
    Bytes set = Config();
    Append(set, {5, 4, 0, 0, 1});
    ProcessingUnit(set, 3, 0x04);
    Finish(set);
    EXPECT_FALSE(Scan(set));

    Bytes tail = Config();
    Append(tail, {2, 4});  // the last two bytes of the block
    Finish(tail);
    EXPECT_FALSE(Scan(tail));
}

TEST_F(ScanTest, AUnitIsReadWhereItsFieldsLieWhateverItsLengthSays) {
    // A final unit whose bLength overstates the end by a byte: every byte read lies inside.
    Bytes set = Config();
    Append(set, VideoControl);
    ProcessingUnit(set, 3, 0x04);
    Finish(set, static_cast<int>(set.size()) - 1);
    EXPECT_TRUE(Scan(set));
    EXPECT_EQ(1u, flag);

    // One that claims 40 bytes where the block ends after 10: the fields read are there.
    Bytes longer = Config();
    Append(longer, VideoControl);
    Append(longer, {40, 36, 5, 2, 1, 0, 0, 2, 0x7F, 0x04});
    Finish(longer);
    EXPECT_TRUE(Scan(longer));
    EXPECT_EQ(1u, flag);

    // A unit too short for its fields reads them from the next descriptor, as the set lies.
    Bytes shorter = Config();
    Append(shorter, VideoControl);
    Append(shorter, {9, 36, 5, 2, 1, 0, 0, 2, 0x7F});
    Append(shorter, {7, 5, 0x83, 3, 0x10, 0, 8});  // bLength 7: bit 2 set
    Finish(shorter);
    EXPECT_TRUE(Scan(shorter));
    EXPECT_EQ(1u, flag);

    // An interface too short for its class bytes likewise.
    Bytes interface = Config();
    Append(interface, {7, 4, 0, 0, 1, 14, 1});
    ProcessingUnit(interface, 2, 0x00);
    Finish(interface);
    EXPECT_TRUE(Scan(interface));
    EXPECT_EQ(0u, flag);
}

TEST_F(ScanTest, AStepPastTheOffsetRangeEndsTheScan) {
    const Bytes set = UvcOffsetWrapSet();
    ASSERT_EQ(0xFFFFu, set.size());
    ASSERT_EQ(255, set[65290]) << "the last descriptor, which would wrap onto offset 9";
    EXPECT_FALSE(Scan(set));
}

TEST_F(ScanTest, ATotalLengthLargerThanTheBlockIsCutAtTheBlock) {
    Bytes set = Config();
    Append(set, VideoControl);
    ProcessingUnit(set, 3, 0x04);
    Finish(set, 0xFFFF);
    EXPECT_TRUE(Scan(set)) << "the unit lies wholly inside the block";
    EXPECT_EQ(1u, flag);

    Bytes cut = Config();
    Append(cut, VideoControl);
    Append(cut, {12, 36, 5, 2, 1});  // the block ends inside the unit
    Finish(cut, 200);
    EXPECT_FALSE(Scan(cut));

    Bytes header = Config();
    Append(header, VideoControl);
    header.push_back(9);  // only a length byte left in the block
    Finish(header, 300);
    EXPECT_FALSE(Scan(header));
}

TEST_F(ScanTest, TheScanStartsAfterTheConfigurationDescriptor) {
    // bLength of the configuration descriptor decides where the first descriptor begins.
    Bytes set = {12, 2, 0, 0, 1, 1, 0, 0x80, 0xFA, 0xEE, 0xEE, 0xEE};
    Append(set, VideoControl);
    ProcessingUnit(set, 3, 0x04);
    Finish(set);
    EXPECT_TRUE(Scan(set));

    Bytes past = {200, 2, 0, 0, 1, 1, 0, 0x80, 0xFA};
    Finish(past);
    EXPECT_FALSE(Scan(past));
}

TEST_F(ScanTest, BlocksTooSmallOrMissingAreRejected) {
    EXPECT_FALSE(Scan(Bytes{}));
    EXPECT_FALSE(Scan(Bytes{9, 2, 9, 0}));
    EXPECT_FALSE(ScanProcessingUnit(nullptr, &flag));
    const DeviceLayer::Block block(BlockOf(vcam::CameraConfiguration(true)));
    EXPECT_FALSE(ScanProcessingUnit(block.Get(), nullptr));
    EXPECT_EQ(99u, flag);
}

}  // namespace
