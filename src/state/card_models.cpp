#include "state/card_models.h"

#include <iterator>

namespace torvexan {

namespace {

constexpr const char* kPlainCaption = "Quorvanta Motion Card Configuration";

// clang-format off
constexpr CardModel kModels[] = {
    {kCardUnknown, "unknown", PacketFamily::kEthernet, LinkPath::kDetect, LinkPath::kEthernet,
     false, 0, false, 5, 1, 1,
     {0, 0, 0, 0, 0, 0}, 0, 0, 0, 0, 0, 0,
     true, ConfigureLayout::kHeaderOnly,
     "? Connected", kPlainCaption},
    {kCardLorn4, "Lorn4", PacketFamily::kEthernet, LinkPath::kEthernet, LinkPath::kEthernet,
     true, 84, false, 4, 50, 30,
     {0x100, 0x200, 0x400, 0x800, 0, 0}, 0x1000, 0x2000, 0, 0, 0, 0xF00,
     false, ConfigureLayout::kEthNoLead,
     "Lorn4 Connected", "Quorvanta LORN4 Motion Card Configuration"},
    {kCardLorn5, "Lorn5", PacketFamily::kEthernet, LinkPath::kEthernet, LinkPath::kEthernet,
     true, 92, false, 5, 50, 30,
     {0x100, 0x200, 0x400, 0x800, 0x1000, 0}, 0x2000, 0x4000, 0x8000, 0x10000, 0x20000, 0x1F00,
     true, ConfigureLayout::kEthLeadTrail,
     "Lorn5 Connected", "Quorvanta LORN5 Motion Card Configuration"},
    {kCardPell4, "Pell4", PacketFamily::kUsb, LinkPath::kNone, LinkPath::kNone,
     false, 0, false, 4, 0, 0,
     {0, 0, 0, 0, 0, 0}, 0, 0, 0, 0, 0, 0,
     true, ConfigureLayout::kUsbOutputPinFirst,
     "Pell4 Connected", "Quorvanta Pell4 Motion Card Configuration"},
    {kCardPell5, "Pell5", PacketFamily::kUsb, LinkPath::kUsb, LinkPath::kUsb,
     true, 0, true, 5, 5, 5,
     {0x100, 0x200, 0x400, 0x800, 0x1000, 0}, 0x2000, 0x4000, 0x8000, 0x10000, 0x20000, 0x1F00,
     true, ConfigureLayout::kUsbDepthFirst,
     "Pell5 Connected", "Quorvanta Pell5 Motion Card Configuration"},
};

// A code that no row lists (a corrupted cardType): looked for like an unknown card, but no
// packet goes to it.
constexpr CardModel kUnlisted{
    0, "?", PacketFamily::kEthernet, LinkPath::kDetect, LinkPath::kNone,
    false, 0, false, 5, 1, 1,
    {0, 0, 0, 0, 0, 0}, 0, 0, 0, 0, 0, 0,
    true, ConfigureLayout::kHeaderOnly,
    "? Connected", kPlainCaption};
// clang-format on

static_assert(std::size(kModels) == kCardPell5 + 1, "one row per model code, in code order");

constexpr bool RowsInCodeOrder() {
  for (uint32_t i = 0; i < std::size(kModels); ++i) {
    if (kModels[i].cardType != i) return false;
  }
  return true;
}
static_assert(RowsInCodeOrder());

}  // namespace

const CardModel& CardModelOf(uint32_t cardType) {
  return cardType < std::size(kModels) ? kModels[cardType] : kUnlisted;
}

const CardModel* CardModelByReplyLength(int length) {
  for (const CardModel& m : kModels) {
    if (m.statusReplyLength != 0 && m.statusReplyLength == length) return &m;
  }
  return nullptr;
}

const CardModel& UsbOpenedCardModel() {
  for (const CardModel& m : kModels) {
    if (m.foundByUsbOpen) return m;
  }
  return kUnlisted;
}

}  // namespace torvexan
