// The virtual USB bus through the libusb call table, in process and as the stand-alone
// substitute library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "card_packets.h"
#include "harness/virtual_usb.h"
#include "platform/usb_loader_table.h"

namespace torvexan::sim::testing {
namespace {

struct Completion {
  bool done = false;
  int status = -1;
};

void LIBUSB_CALL OnDone(libusb_transfer* t) {
  auto* c = static_cast<Completion*>(t->user_data);
  c->done = true;
  c->status = t->status;
}

Bytes Connect(uint8_t seq) {
  Bytes b(64, 0);
  b[0] = 2;
  b[1] = 1;
  b[2] = seq;
  EncodeChained(b.data(), 64);
  return b;
}

class UsbBus : public ::testing::Test {
 protected:
  Timeline timeline;
  VirtualUsbBus bus{timeline};
  UsbCard& dev = bus.AddCard();
  VirtualUsbLoader loader{bus};
  const UsbLibrary* usb = nullptr;
  libusb_device_handle* h = nullptr;

  void SetUp() override {
    usb = loader.Load();
    ASSERT_NE(usb, nullptr);
    ASSERT_EQ(usb->init(nullptr), 0);
    h = usb->open_device_with_vid_pid(nullptr, 0xA720, 0xF805);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(usb->claim_interface(h, 0), 0);
    EXPECT_EQ(usb->set_configuration(h, 1), 0);
  }
  // One synchronous exchange: the plain command out, the decoded reply back.
  Bytes Exchange(Bytes plain, int* outResult = nullptr, int* inResult = nullptr) {
    EncodeChained(plain.data(), 64);
    int n = 0;
    const int o = usb->bulk_transfer(h, 0x01, plain.data(), 64, &n, 10);
    Bytes r(64, 0);
    const int i = usb->bulk_transfer(h, 0x81, r.data(), 64, &n, 10);
    if (outResult) *outResult = o;
    if (inResult) *inResult = i;
    DecodeChained(r.data(), 64);
    return i == 0 ? r : Bytes{};
  }
};

TEST_F(UsbBus, DescriptorAndStringsAsLibusbGivesThem) {
  libusb_device_descriptor d{};
  ASSERT_EQ(usb->get_device_descriptor(usb->get_device(h), &d), 0);
  EXPECT_EQ(d.idVendor, 0xA720);
  EXPECT_EQ(d.idProduct, 0xF805);
  unsigned char text[64];
  std::memset(text, 0xEE, sizeof text);
  const int n = usb->get_string_descriptor_ascii(h, d.iProduct, text, 64);
  EXPECT_EQ(n, static_cast<int>(dev.productString.size()));
  EXPECT_STREQ(reinterpret_cast<char*>(text), dev.productString.c_str());
  dev.serialString = std::string(80, 'S');
  EXPECT_EQ(usb->get_string_descriptor_ascii(h, d.iSerialNumber, text, 64), 63);
  EXPECT_EQ(text[63], 0) << "cut to the buffer with its NUL";
  EXPECT_LT(usb->get_string_descriptor_ascii(h, 0, text, 64), 0);
  EXPECT_EQ(usb->open_device_with_vid_pid(nullptr, 0xA720, 0xF806), nullptr);
}

TEST_F(UsbBus, HandshakeRunsOnAsynchronousTransfersCompletedByEventHandling) {
  libusb_transfer* t = usb->alloc_transfer(0);
  ASSERT_NE(t, nullptr);
  Completion c;
  Bytes request = Connect(255);
  libusb_fill_bulk_transfer(t, h, 0x01, request.data(), 64, OnDone, &c, 10);
  ASSERT_EQ(usb->submit_transfer(t), 0);
  EXPECT_FALSE(c.done) << "nothing completes before events are handled";
  timeval zero{0, 0};
  usb->handle_events_timeout(nullptr, &zero);
  ASSERT_TRUE(c.done);
  EXPECT_EQ(c.status, LIBUSB_TRANSFER_COMPLETED);
  Bytes reply(64, 0);
  c = Completion{};
  libusb_fill_bulk_transfer(t, h, 0x81, reply.data(), 64, OnDone, &c, 10);
  ASSERT_EQ(usb->submit_transfer(t), 0);
  usb->handle_events_timeout(nullptr, &zero);
  ASSERT_TRUE(c.done);
  EXPECT_EQ(c.status, LIBUSB_TRANSFER_COMPLETED);
  DecodeChained(reply.data(), 64);
  EXPECT_EQ(reply[0], 1);
  EXPECT_EQ(reply[1], 3);
  EXPECT_EQ(reply[2], 255);
  EXPECT_EQ(reply[3], 199);
  usb->free_transfer(t);
  EXPECT_EQ(dev.card.stats().discoveries, 1u);
}

TEST_F(UsbBus, UnansweredReadTimesOutOnlyWhenItsTimeHasPassed) {
  libusb_transfer* t = usb->alloc_transfer(0);
  Completion c;
  Bytes reply(64, 0);
  libusb_fill_bulk_transfer(t, h, 0x81, reply.data(), 64, OnDone, &c, 10);
  ASSERT_EQ(usb->submit_transfer(t), 0);
  timeval zero{0, 0};
  timeline.Advance(9);
  usb->handle_events_timeout(nullptr, &zero);
  EXPECT_FALSE(c.done);
  timeline.Advance(1);
  usb->handle_events_timeout(nullptr, &zero);
  ASSERT_TRUE(c.done);
  EXPECT_EQ(c.status, LIBUSB_TRANSFER_TIMED_OUT);
  usb->free_transfer(t);
}

TEST_F(UsbBus, BulkExchangeAndAStalledCardThatCostsTheTimeOut) {
  const Bytes r = Exchange(Usb(11, 4, {0x1F}));
  ASSERT_EQ(r.size(), 64u);
  EXPECT_EQ(r[2], 4);
  EXPECT_EQ(r[6], 1);
  dev.stalled = true;
  const uint64_t before = timeline.now();
  int out = 0, in = 0;
  EXPECT_TRUE(Exchange(Usb(3, 5), &out, &in).empty());
  EXPECT_EQ(out, LIBUSB_ERROR_TIMEOUT);
  EXPECT_EQ(in, LIBUSB_ERROR_TIMEOUT);
  EXPECT_EQ(timeline.now() - before, 20u) << "two transfers of 10 ms each";
  EXPECT_EQ(dev.card.cardTime(), 4) << "the card's clock ran on while the tick was held";
}

TEST_F(UsbBus, DoubledReplyLeavesAStaleOneForTheNextExchange) {
  FaultShares twice;
  twice.duplicate = 1.0;
  dev.fromCard.SetShares(twice);
  EXPECT_EQ(Exchange(Usb(11, 10, {0x1F}))[2], 10);
  dev.fromCard.SetShares(FaultShares{});
  EXPECT_EQ(Exchange(Usb(3, 11))[2], 10) << "first read: the stale copy";
  Bytes right(64, 0);
  int n = 0;
  ASSERT_EQ(usb->bulk_transfer(h, 0x81, right.data(), 64, &n, 10), 0);
  DecodeChained(right.data(), 64);
  EXPECT_EQ(right[2], 11);
}

TEST_F(UsbBus, DelayedReplyIsWaitedForWithinTheTimeOut) {
  FaultShares slow;
  slow.delay = 1.0;
  slow.delayMs = 6;
  dev.fromCard.SetShares(slow);
  const uint64_t before = timeline.now();
  EXPECT_EQ(Exchange(Usb(3, 1))[2], 1);
  EXPECT_EQ(timeline.now() - before, 6u);
}

TEST_F(UsbBus, UnpluggedDeviceFailsEverything) {
  dev.plugged = false;
  int n = 0;
  uint8_t b[64] = {};
  EXPECT_EQ(usb->bulk_transfer(h, 0x01, b, 64, &n, 10), LIBUSB_ERROR_NO_DEVICE);
  libusb_transfer* t = usb->alloc_transfer(0);
  libusb_fill_bulk_transfer(t, h, 0x01, b, 64, OnDone, nullptr, 10);
  EXPECT_EQ(usb->submit_transfer(t), LIBUSB_ERROR_NO_DEVICE);
  usb->free_transfer(t);
  EXPECT_EQ(usb->open_device_with_vid_pid(nullptr, 0xA720, 0xF805), nullptr);
  usb->release_interface(h, 0);
  usb->close(h);
  EXPECT_EQ(bus.openHandles(), 0);
  usb->exit(nullptr);
}

TEST(UsbLoading, MissingLibraryAndFailingInit) {
  Timeline timeline;
  VirtualUsbBus bus(timeline);
  VirtualUsbLoader loader(bus);
  loader.missing = true;
  EXPECT_EQ(loader.Load(), nullptr);
  loader.missing = false;
  bus.initFails = true;
  EXPECT_LT(loader.Load()->init(nullptr), 0);
}

TEST(UsbSubstitute, SharedLibraryServesAVirtualCardInWallClockTime) {
  void* lib = dlopen(TORVEXAN_USBSUB_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  UsbLibrary t{};
  ASSERT_TRUE(FillUsbLibrary(t, [lib](const char* name) { return dlsym(lib, name); }));
  ASSERT_EQ(t.init(nullptr), 0);
  libusb_device_handle* h = t.open_device_with_vid_pid(nullptr, 0xA720, 0xF805);
  ASSERT_NE(h, nullptr);
  Bytes c = Connect(9);
  int n = 0;
  ASSERT_EQ(t.bulk_transfer(h, 0x01, c.data(), 64, &n, 10), 0);
  Bytes r(64, 0);
  ASSERT_EQ(t.bulk_transfer(h, 0x81, r.data(), 64, &n, 10), 0);
  DecodeChained(r.data(), 64);
  EXPECT_EQ(r[2], 9);
  EXPECT_EQ(t.bulk_transfer(h, 0x81, r.data(), 64, &n, 10), LIBUSB_ERROR_TIMEOUT);
  t.close(h);
  t.exit(nullptr);
  dlclose(lib);
}

}  // namespace
}  // namespace torvexan::sim::testing
