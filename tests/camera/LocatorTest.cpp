#include <string>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/CameraLocator.h"
#include "DLL/camera/UsbLayouts.h"
#include "tests/camera/CameraTestSupport.h"

namespace {

vcam::UsbDevice Camera(unsigned short productId = vcam::StandardProductId) {
    vcam::UsbDevice device;
    device.vendorId = CameraVendorId;
    device.productId = productId;
    device.configuration = vcam::CameraConfiguration(false);
    return device;
}

ULONG PortOf(const void* connectionInfo) {
    ULONG port;
    std::memcpy(&port, connectionInfo, sizeof port);
    return port;
}

class LocatorTest : public VirtualMachineTest {
protected:
    // Runs the search and keeps both results until the test ends.
    // The owners hold blocks beforehand: the search gives them back and starts from none.
    bool Find() {
        connection.Reset(DeviceLayer::AllocBlock(1));
        descriptors.Reset(DeviceLayer::AllocBlock(1));
        found = FindCamera(&connection, &descriptors);
        return found;
    }
    void TearDown() override {
        connection.Reset();
        descriptors.Reset();
        VirtualMachineTest::TearDown();
    }
    DeviceLayer::Block connection;
    DeviceLayer::Block descriptors;
    bool found = false;
};

TEST_F(LocatorTest, NoControllerMeansNoCameraAndBothOutputsNone) {
    EXPECT_FALSE(Find());
    EXPECT_EQ(nullptr, connection.Get());
    EXPECT_EQ(nullptr, descriptors.Get());
    EXPECT_EQ(10, vcam::RequestCount(vcam::Request::ControllerOpen));
}

TEST_F(LocatorTest, StandardCameraBehindAnExternalHub) {
    vcam::StandardCamera camera = vcam::PlugStandardCamera();
    ASSERT_TRUE(Find());
    ASSERT_NE(nullptr, connection.Get());
    EXPECT_EQ(ConnectionInfoBlockSize, DeviceLayer::BlockSize(connection.Get()));
    EXPECT_EQ(static_cast<ULONG>(camera.cameraPort), PortOf(connection.Get()));
    EXPECT_EQ(CameraVendorId, ConnectionVendorId(connection.Get()));
    EXPECT_EQ(vcam::StandardProductId, ConnectionProductId(connection.Get()));

    ASSERT_NE(nullptr, descriptors.Get());
    std::vector<unsigned char> set = vcam::CameraConfiguration(false);
    ASSERT_EQ(set.size() + 12, DeviceLayer::BlockSize(descriptors.Get()));
    EXPECT_EQ(0, std::memcmp(set.data(), DeviceLayer::Bytes(descriptors) + 12, set.size()));
    EXPECT_EQ(static_cast<ULONG>(camera.cameraPort), PortOf(descriptors.Get()));
    // Root hub, the hub without the camera on port 1 (searched first), then the camera's hub.
    EXPECT_EQ(3, vcam::RequestCount(vcam::Request::HubOpen));
    // The walk stops at the first controller with the camera.
    EXPECT_EQ(1, vcam::RequestCount(vcam::Request::ControllerOpen));
}

TEST_F(LocatorTest, DepthFirstWalkTakesTheFirstCameraMet) {
    vcam::HubId root = vcam::AddHostController(0, 3);
    vcam::HubId port1 = vcam::AttachHub(root, 1, 2);
    vcam::HubId deep = vcam::AttachHub(port1, 2, 4);
    vcam::AttachDevice(deep, 4, Camera(0x1822));
    vcam::AttachDevice(root, 2, Camera(0x1801));
    ASSERT_TRUE(Find());
    EXPECT_EQ(0x1822, ConnectionProductId(connection.Get()));
    EXPECT_EQ(4u, PortOf(connection.Get()));
}

TEST_F(LocatorTest, WalkComesBackFromAHubWithoutTheCamera) {
    vcam::HubId root = vcam::AddHostController(0, 2);
    vcam::HubId empty = vcam::AttachHub(root, 1, 4);
    vcam::AttachHub(empty, 3, 2);  // nested, also empty
    vcam::HubId second = vcam::AttachHub(root, 2, 4);
    vcam::AttachDevice(second, 2, Camera());
    ASSERT_TRUE(Find());
    EXPECT_EQ(2u, PortOf(connection.Get()));
    EXPECT_EQ(4, vcam::RequestCount(vcam::Request::HubOpen));
}

TEST_F(LocatorTest, ControllersAreTriedInOrderAndAbsentOnesSkipped) {
    vcam::AddHostController(1, 2);  // no camera here
    vcam::HubId three = vcam::AddHostController(3, 2);
    vcam::AttachDevice(three, 1, Camera(0x1803));
    vcam::HubId five = vcam::AddHostController(5, 2);
    vcam::AttachDevice(five, 1, Camera(0x1805));
    ASSERT_TRUE(Find());
    EXPECT_EQ(0x1803, ConnectionProductId(connection.Get()));
    EXPECT_EQ(4, vcam::RequestCount(vcam::Request::ControllerOpen));
}

TEST_F(LocatorTest, ProductRangeVendorAndConnectionStatusDecideTheMatch) {
    struct Case {
        unsigned short vendor, product;
        unsigned long status;
        bool match;
    } cases[] = {
        {CameraVendorId, 0x1800, 1, true},  {CameraVendorId, 0x18FF, 1, true},
        {CameraVendorId, 0x1900, 1, false}, {CameraVendorId, 0x17FF, 1, false},
        {0x2F3B, 0x1801, 1, false},         {CameraVendorId, 0x1801, 0, false},
        {CameraVendorId, 0x1801, 5, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.vendor << ":" << c.product << " status " << c.status);
        vcam::Reset();
        vcam::HubId root = vcam::AddHostController(0, 2);
        vcam::UsbDevice device = Camera(c.product);
        device.vendorId = c.vendor;
        device.connectionStatus = c.status;
        vcam::AttachDevice(root, 1, device);
        EXPECT_EQ(c.match, Find());
        EXPECT_EQ(c.match, connection.Get() != nullptr);
        connection.Reset();
        descriptors.Reset();
        EXPECT_EQ(0, vcam::LiveBlocks());
        EXPECT_EQ(0, vcam::OpenHandles());
    }
}

TEST_F(LocatorTest, AHubRefusingTheNewerRequestIsSearchedWithTheOlderOne) {
    vcam::StandardCamera camera = vcam::PlugStandardCamera();
    vcam::HubFaults refuse;
    refuse.connectionEx = true;
    vcam::SetHubFaults(camera.rootHub, refuse);
    vcam::SetHubFaults(camera.externalHub, refuse);
    ASSERT_TRUE(Find());
    EXPECT_EQ(static_cast<ULONG>(camera.cameraPort), PortOf(connection.Get()));
    EXPECT_EQ(vcam::StandardProductId, ConnectionProductId(connection.Get()));
    EXPECT_NE(nullptr, descriptors.Get());
    EXPECT_GT(vcam::RequestCount(vcam::Request::Connection), 0);
}

TEST_F(LocatorTest, APortAnsweringNeitherRequestIsSkipped) {
    vcam::HubId root = vcam::AddHostController(0, 3);
    vcam::AttachDevice(root, 1, Camera(0x1811));
    vcam::AttachDevice(root, 2, Camera(0x1812));
    vcam::PortFaults mute;
    mute.connectionEx = mute.connection = true;
    vcam::SetPortFaults(root, 1, mute);
    ASSERT_TRUE(Find());
    EXPECT_EQ(0x1812, ConnectionProductId(connection.Get()));
}

TEST_F(LocatorTest, FailedOrInconsistentDescriptorFetchStillFindsTheCamera) {
    struct Case {
        const char* what;
        vcam::PortFaults faults;
    };
    std::vector<Case> cases;
    vcam::PortFaults f;
    f.descriptorHead = true;
    cases.push_back({"first phase refused", f});
    f = {};
    f.descriptorHeadBytesDelta = -1;
    cases.push_back({"first phase one byte short", f});
    f = {};
    f.descriptorHeadBytesDelta = 1;
    cases.push_back({"first phase one byte long", f});
    f = {};
    f.descriptorBody = true;
    cases.push_back({"second phase refused", f});
    f = {};
    f.descriptorBodyBytesDelta = -1;
    cases.push_back({"second phase one byte short", f});
    f = {};
    f.bodyTotalLengthDelta = 2;
    cases.push_back({"set changed its length between the phases", f});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vcam::Reset();
        vcam::StandardCamera camera = vcam::PlugStandardCamera();
        vcam::SetPortFaults(camera.cameraHub, camera.cameraPort, c.faults);
        EXPECT_TRUE(Find());
        EXPECT_NE(nullptr, connection.Get());
        EXPECT_EQ(nullptr, descriptors.Get());
        connection.Reset();
        EXPECT_EQ(0, vcam::LiveBlocks());
    }
}

TEST_F(LocatorTest, ATotalLengthBelowNineGivesNoDescriptorBlock) {
    vcam::HubId root = vcam::AddHostController(0, 1);
    vcam::UsbDevice device = Camera();
    device.configuration = {9, 2, 8, 0, 1, 1, 0, 0x80, 0xFA};
    vcam::AttachDevice(root, 1, device);
    EXPECT_TRUE(Find());
    EXPECT_NE(nullptr, connection.Get());
    EXPECT_EQ(nullptr, descriptors.Get());
    EXPECT_EQ(0, vcam::RequestCount(vcam::Request::DescriptorBody));
}

TEST_F(LocatorTest, ASetOfExactlyNineBytesIsKept) {
    vcam::HubId root = vcam::AddHostController(0, 1);
    vcam::UsbDevice device = Camera();
    device.configuration = {9, 2, 9, 0, 0, 1, 0, 0x80, 0xFA};
    vcam::AttachDevice(root, 1, device);
    ASSERT_TRUE(Find());
    ASSERT_NE(nullptr, descriptors.Get());
    EXPECT_EQ(21u, DeviceLayer::BlockSize(descriptors.Get()));
}

TEST_F(LocatorTest, UnreachableHubsAndControllersAreNotBelowTheCamera) {
    // Controller 0: root hub name unreadable; 1: hub will not open; 2: no node information;
    // 3: downstream hub name unreadable; 4: no ports. Controller 6 has the camera.
    vcam::HubId r0 = vcam::AddHostController(0, 1);
    vcam::AttachDevice(r0, 1, Camera(0x1810));
    vcam::ControllerFaults nameFails;
    nameFails.rootName = true;
    vcam::SetControllerFaults(0, nameFails);
    vcam::HubId r1 = vcam::AddHostController(1, 1);
    vcam::AttachDevice(r1, 1, Camera(0x1811));
    vcam::HubFaults closed;
    closed.open = true;
    vcam::SetHubFaults(r1, closed);
    vcam::HubId r2 = vcam::AddHostController(2, 1);
    vcam::AttachDevice(r2, 1, Camera(0x1812));
    vcam::HubFaults silent;
    silent.nodeInformation = true;
    vcam::SetHubFaults(r2, silent);
    vcam::HubId r3 = vcam::AddHostController(3, 1);
    vcam::HubId below = vcam::AttachHub(r3, 1, 1);
    vcam::AttachDevice(below, 1, Camera(0x1813));
    vcam::PortFaults nameless;
    nameless.nameSize = true;
    vcam::SetPortFaults(r3, 1, nameless);
    vcam::AddHostController(4, 0);
    vcam::HubId r6 = vcam::AddHostController(6, 1);
    vcam::AttachDevice(r6, 1, Camera(0x1816));
    ASSERT_TRUE(Find());
    EXPECT_EQ(0x1816, ConnectionProductId(connection.Get()));
}

TEST_F(LocatorTest, LyingNameLengthsNeverReadPastTheReply) {
    // Reported lengths too small to hold the name: the reply is not terminated within its block.
    for (long actual : {0L, 4L, 6L, 9L, 12L}) {
        SCOPED_TRACE(actual);
        vcam::Reset();
        vcam::StandardCamera camera = vcam::PlugStandardCamera();
        vcam::ControllerFaults lie;
        lie.rootNameActualLength = actual;
        vcam::SetControllerFaults(0, lie);
        EXPECT_FALSE(Find());
        EXPECT_EQ(0, vcam::LiveBlocks());
    }
    for (long actual : {0L, 10L, 11L, 12L, 20L}) {
        SCOPED_TRACE(actual);
        vcam::Reset();
        vcam::StandardCamera camera = vcam::PlugStandardCamera();
        vcam::PortFaults lie;
        lie.nameActualLength = actual;
        vcam::SetPortFaults(camera.rootHub, 2, lie);
        EXPECT_FALSE(Find());
        EXPECT_EQ(0, vcam::LiveBlocks());
    }
}

TEST_F(LocatorTest, AHubNamingItselfDoesNotRecurseWithoutEnd) {
    vcam::HubId root = vcam::AddHostController(0, 2);
    vcam::HubId loop = vcam::AttachHub(root, 1, 3);
    vcam::AttachHubLink(loop, 1, loop);
    vcam::AttachHubLink(loop, 2, root);
    EXPECT_FALSE(Find());
    EXPECT_LE(vcam::RequestCount(vcam::Request::HubOpen), 1 << (CameraLocator::MaxHubDepth + 1));

    // With the camera on a later port the walk still finds it.
    vcam::AttachDevice(loop, 3, Camera());
    EXPECT_TRUE(Find());
}

TEST_F(LocatorTest, HubChainsAreFollowedToTheDepthBound) {
    for (int depth : {CameraLocator::MaxHubDepth, CameraLocator::MaxHubDepth + 1}) {
        SCOPED_TRACE(depth);
        vcam::Reset();
        vcam::HubId hub = vcam::AddHostController(0, 1);
        for (int level = 1; level <= depth; ++level) hub = vcam::AttachHub(hub, 1, 1);
        vcam::AttachDevice(hub, 1, Camera());
        EXPECT_EQ(depth <= CameraLocator::MaxHubDepth, Find());
        connection.Reset();
        descriptors.Reset();
    }
}

// Every request the walk sends, failed one at a time at each of its occurrences, and every
// allocation failed in turn: nothing may stay open or allocated, and a result is whole.
TEST_F(LocatorTest, EveryInjectedFailureReleasesEverything) {
    const vcam::Request kinds[] = {
        vcam::Request::ControllerOpen, vcam::Request::RootHubNameSize, vcam::Request::RootHubName,
        vcam::Request::HubOpen,        vcam::Request::NodeInformation, vcam::Request::ConnectionEx,
        vcam::Request::Connection,     vcam::Request::HubNameSize,     vcam::Request::HubName,
        vcam::Request::DescriptorHead, vcam::Request::DescriptorBody,
    };
    auto plug = [] {
        vcam::Reset();
        vcam::StandardCamera camera = vcam::PlugStandardCamera();
        // Make the older request reachable too.
        vcam::PortFaults older;
        older.connectionEx = true;
        vcam::SetPortFaults(camera.cameraHub, 1, older);
    };
    plug();
    ASSERT_TRUE(Find());
    int counts[sizeof kinds / sizeof kinds[0]];
    for (size_t k = 0; k < sizeof kinds / sizeof kinds[0]; ++k) {
        counts[k] = vcam::RequestCount(kinds[k]);
        EXPECT_GT(counts[k], 0) << "request kind " << k << " never sent";
    }
    connection.Reset();
    descriptors.Reset();
    int scenarios = 0;
    for (size_t k = 0; k < sizeof kinds / sizeof kinds[0]; ++k) {
        for (int nth = 1; nth <= counts[k]; ++nth) {
            SCOPED_TRACE(testing::Message() << "kind " << k << ", occurrence " << nth);
            plug();
            vcam::FailNth(kinds[k], nth);
            Find();
            EXPECT_EQ(found, connection.Get() != nullptr);
            if (!found) {
                EXPECT_EQ(nullptr, descriptors.Get());
            }
            int results = (connection.Get() ? 1 : 0) + (descriptors.Get() ? 1 : 0);
            EXPECT_EQ(results, vcam::LiveBlocks());
            EXPECT_EQ(0, vcam::OpenHandles());
            EXPECT_EQ(0, vcam::BadReleases());
            connection.Reset();
            descriptors.Reset();
            ++scenarios;
        }
    }
    // The standard walk allocates a few dozen blocks; failing each of the first 150 covers them.
    for (int nth = 1; nth <= 150; ++nth) {
        SCOPED_TRACE(testing::Message() << "allocation " << nth);
        plug();
        vcam::FailNthAllocation(nth);
        Find();
        int results = (connection.Get() ? 1 : 0) + (descriptors.Get() ? 1 : 0);
        EXPECT_EQ(results, vcam::LiveBlocks());
        EXPECT_EQ(0, vcam::OpenHandles());
        EXPECT_EQ(0, vcam::BadReleases());
        connection.Reset();
        descriptors.Reset();
        ++scenarios;
    }
    EXPECT_GT(scenarios, 20);
}

TEST_F(LocatorTest, NarrowStringGivesAnsiTextInABlock) {
    const DeviceLayer::Block text = CameraLocator::NarrowString(L"USB#ROOT_HUB20#4&1");
    ASSERT_NE(nullptr, text.Get());
    EXPECT_STREQ("USB#ROOT_HUB20#4&1", static_cast<const char*>(text.Get()));
    EXPECT_FALSE(CameraLocator::NarrowString(nullptr));
}

TEST_F(LocatorTest, NullOutputsAreRefused) {
    vcam::PlugStandardCamera();
    DeviceLayer::Block block;
    EXPECT_FALSE(FindCamera(nullptr, &block));
    EXPECT_FALSE(FindCamera(&block, nullptr));
}

}  // namespace
