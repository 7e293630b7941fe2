#include "state/card_models.h"

#include <iterator>

namespace torvexan {

namespace {

constexpr const char* kPlainCaption = "Quorvanta Motion Card Configuration";

constexpr CardModel kModels[] = {
    {
        .cardType = kCardUnknown,
        .name = "unknown",
        .family = PacketFamily::kEthernet,
        .connectBy = LinkPath::kDetect,
        .exchangeBy = LinkPath::kEthernet,
        .recognisable = false,
        .statusReplyLength = 0,
        .foundByUsbOpen = false,
        .axisCount = 5,
        .maxSegments = 1,
        .minSegments = 1,
        .mpgAxisMask = {0, 0, 0, 0, 0, 0},
        .mpgX10Mask = 0,
        .mpgX100Mask = 0,
        .estopMask = 0,
        .spareMask1 = 0,
        .spareMask2 = 0,
        .mpgAnyAxisMask = 0,
        .configureFollowsAxisMap = true,
        .configureLayout = ConfigureLayout::kHeaderOnly,
        .connectedText = "? Connected",
        .dialogCaption = kPlainCaption,
    },
    {
        .cardType = kCardLorn4,
        .name = "Lorn4",
        .family = PacketFamily::kEthernet,
        .connectBy = LinkPath::kEthernet,
        .exchangeBy = LinkPath::kEthernet,
        .recognisable = true,
        .statusReplyLength = 84,
        .foundByUsbOpen = false,
        .axisCount = 4,
        .maxSegments = 50,
        .minSegments = 30,
        .mpgAxisMask = {0x100, 0x200, 0x400, 0x800, 0, 0},
        .mpgX10Mask = 0x1000,
        .mpgX100Mask = 0x2000,
        .estopMask = 0,
        .spareMask1 = 0,
        .spareMask2 = 0,
        .mpgAnyAxisMask = 0xF00,
        .configureFollowsAxisMap = false,
        .configureLayout = ConfigureLayout::kEthNoLead,
        .connectedText = "Lorn4 Connected",
        .dialogCaption = "Quorvanta LORN4 Motion Card Configuration",
    },
    {
        .cardType = kCardLorn5,
        .name = "Lorn5",
        .family = PacketFamily::kEthernet,
        .connectBy = LinkPath::kEthernet,
        .exchangeBy = LinkPath::kEthernet,
        .recognisable = true,
        .statusReplyLength = 92,
        .foundByUsbOpen = false,
        .axisCount = 5,
        .maxSegments = 50,
        .minSegments = 30,
        .mpgAxisMask = {0x100, 0x200, 0x400, 0x800, 0x1000, 0},
        .mpgX10Mask = 0x2000,
        .mpgX100Mask = 0x4000,
        .estopMask = 0x8000,
        .spareMask1 = 0x10000,
        .spareMask2 = 0x20000,
        .mpgAnyAxisMask = 0x1F00,
        .configureFollowsAxisMap = true,
        .configureLayout = ConfigureLayout::kEthLeadTrail,
        .connectedText = "Lorn5 Connected",
        .dialogCaption = "Quorvanta LORN5 Motion Card Configuration",
    },
    {
        .cardType = kCardPell4,
        .name = "Pell4",
        .family = PacketFamily::kUsb,
        .connectBy = LinkPath::kNone,
        .exchangeBy = LinkPath::kNone,
        .recognisable = false,
        .statusReplyLength = 0,
        .foundByUsbOpen = false,
        .axisCount = 4,
        .maxSegments = 0,
        .minSegments = 0,
        .mpgAxisMask = {0, 0, 0, 0, 0, 0},
        .mpgX10Mask = 0,
        .mpgX100Mask = 0,
        .estopMask = 0,
        .spareMask1 = 0,
        .spareMask2 = 0,
        .mpgAnyAxisMask = 0,
        .configureFollowsAxisMap = true,
        .configureLayout = ConfigureLayout::kUsbOutputPinFirst,
        .connectedText = "Pell4 Connected",
        .dialogCaption = "Quorvanta Pell4 Motion Card Configuration",
    },
    {
        .cardType = kCardPell5,
        .name = "Pell5",
        .family = PacketFamily::kUsb,
        .connectBy = LinkPath::kUsb,
        .exchangeBy = LinkPath::kUsb,
        .recognisable = true,
        .statusReplyLength = 0,
        .foundByUsbOpen = true,
        .axisCount = 5,
        .maxSegments = 5,
        .minSegments = 5,
        .mpgAxisMask = {0x100, 0x200, 0x400, 0x800, 0x1000, 0},
        .mpgX10Mask = 0x2000,
        .mpgX100Mask = 0x4000,
        .estopMask = 0x8000,
        .spareMask1 = 0x10000,
        .spareMask2 = 0x20000,
        .mpgAnyAxisMask = 0x1F00,
        .configureFollowsAxisMap = true,
        .configureLayout = ConfigureLayout::kUsbDepthFirst,
        .connectedText = "Pell5 Connected",
        .dialogCaption = "Quorvanta Pell5 Motion Card Configuration",
    },
};

// A code that no row lists (a corrupted cardType): looked for like an unknown card, but no
// packet goes to it.
constexpr CardModel kUnlisted{
    .cardType = 0,
    .name = "?",
    .family = PacketFamily::kEthernet,
    .connectBy = LinkPath::kDetect,
    .exchangeBy = LinkPath::kNone,
    .recognisable = false,
    .statusReplyLength = 0,
    .foundByUsbOpen = false,
    .axisCount = 5,
    .maxSegments = 1,
    .minSegments = 1,
    .mpgAxisMask = {0, 0, 0, 0, 0, 0},
    .mpgX10Mask = 0,
    .mpgX100Mask = 0,
    .estopMask = 0,
    .spareMask1 = 0,
    .spareMask2 = 0,
    .mpgAnyAxisMask = 0,
    .configureFollowsAxisMap = true,
    .configureLayout = ConfigureLayout::kHeaderOnly,
    .connectedText = "? Connected",
    .dialogCaption = kPlainCaption,
};

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
