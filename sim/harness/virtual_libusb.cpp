// The libusb calls of the plug-in, answered by the active virtual bus. The functions are
// plain C-callable ones, so the same table serves the in-process loader and the stand-alone
// substitute library.
#include "harness/virtual_usb.h"

namespace torvexan::sim {

namespace {

// A C call carries no context; the test or the substitute library installs the bus here.
VirtualUsbBus* gActiveBus = nullptr;

int LIBUSB_CALL Init(libusb_context** ctx) {
  return gActiveBus ? gActiveBus->Init(ctx) : LIBUSB_ERROR_OTHER;
}
void LIBUSB_CALL SetDebug(libusb_context*, int) {}
libusb_device_handle* LIBUSB_CALL OpenVidPid(libusb_context*, uint16_t vendor, uint16_t product) {
  return gActiveBus ? gActiveBus->OpenDevice(vendor, product) : nullptr;
}
int LIBUSB_CALL Claim(libusb_device_handle* h, int n) {
  return gActiveBus ? gActiveBus->ClaimInterface(h, n) : LIBUSB_ERROR_NO_DEVICE;
}
int LIBUSB_CALL SetConfiguration(libusb_device_handle* h, int c) {
  return gActiveBus ? gActiveBus->SetConfiguration(h, c) : LIBUSB_ERROR_NO_DEVICE;
}
libusb_device* LIBUSB_CALL GetDevice(libusb_device_handle* h) {
  return gActiveBus ? gActiveBus->DeviceOf(h) : nullptr;
}
int LIBUSB_CALL GetDescriptor(libusb_device* d, libusb_device_descriptor* out) {
  return gActiveBus ? gActiveBus->DeviceDescriptor(d, out) : LIBUSB_ERROR_NO_DEVICE;
}
int LIBUSB_CALL StringAscii(libusb_device_handle* h, uint8_t i, unsigned char* d, int n) {
  return gActiveBus ? gActiveBus->StringAscii(h, i, d, n) : LIBUSB_ERROR_NO_DEVICE;
}
libusb_transfer* LIBUSB_CALL AllocTransfer(int iso) {
  return gActiveBus ? gActiveBus->AllocTransfer(iso) : nullptr;
}
int LIBUSB_CALL Submit(libusb_transfer* t) {
  return gActiveBus ? gActiveBus->SubmitTransfer(t) : LIBUSB_ERROR_NO_DEVICE;
}
int LIBUSB_CALL HandleEvents(libusb_context*, timeval* tv) {
  return gActiveBus ? gActiveBus->HandleEvents(tv) : LIBUSB_ERROR_OTHER;
}
void LIBUSB_CALL FreeTransfer(libusb_transfer* t) {
  if (gActiveBus) gActiveBus->FreeTransfer(t);
}
int LIBUSB_CALL Bulk(libusb_device_handle* h, unsigned char ep, unsigned char* data, int length,
                     int* transferred, unsigned int timeoutMs) {
  return gActiveBus ? gActiveBus->BulkTransfer(h, ep, data, length, transferred, timeoutMs)
                    : LIBUSB_ERROR_NO_DEVICE;
}
int LIBUSB_CALL Release(libusb_device_handle* h, int n) {
  return gActiveBus ? gActiveBus->ReleaseInterface(h, n) : LIBUSB_ERROR_NO_DEVICE;
}
void LIBUSB_CALL Close(libusb_device_handle* h) {
  if (gActiveBus) gActiveBus->CloseDevice(h);
}
void LIBUSB_CALL Exit(libusb_context* ctx) {
  if (gActiveBus) gActiveBus->Exit(ctx);
}
int LIBUSB_CALL Cancel(libusb_transfer* t) {
  return gActiveBus ? gActiveBus->CancelTransfer(t) : LIBUSB_ERROR_NOT_FOUND;
}

constexpr UsbLibrary kTable{
    Init,         SetDebug,      OpenVidPid,  Claim,         SetConfiguration,
    GetDevice,    GetDescriptor, StringAscii, AllocTransfer, Submit,
    HandleEvents, FreeTransfer,  Bulk,        Release,       Close,
    Exit,         Cancel};

}  // namespace

VirtualUsbBus* ActiveUsbBus() {
  return gActiveBus;
}
void SetActiveUsbBus(VirtualUsbBus* bus) {
  gActiveBus = bus;
}
const UsbLibrary& VirtualUsbTable() {
  return kTable;
}

}  // namespace torvexan::sim
