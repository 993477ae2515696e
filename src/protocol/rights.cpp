#include "protocol/rights.h"

namespace taviro::protocol {

bool RowAllows(const RightsContext& context, std::size_t row) {
    if (!context.userSlot || *context.userSlot >= kUserSlots || row >= kPermissionRows) {
        return false;
    }
    return context.tables[row][*context.userSlot] == 1;
}

bool MayUse(Feature feature, const RightsContext& c) {
    const bool legacy = c.productMajor == 0;
    switch (feature) {
        case Feature::RecordOnOff:
            return legacy ? c.account == 0 : RowAllows(c, right_row::kRecord);
        case Feature::SearchPlayback:
            return legacy ? (c.account == 0 || c.account == 2) : RowAllows(c, right_row::kSearch);
        case Feature::WebSetup:
            return legacy ? c.account == 0 : RowAllows(c, right_row::kFirmware);
        case Feature::FirmwareUpgrade:
            return RowAllows(c, right_row::kFirmware);
        case Feature::Ptz:
            return c.liveOn && (legacy || RowAllows(c, right_row::kPtz));
        case Feature::Talk:
            return c.account == 0;
        case Feature::CovertVisible:
            return legacy ? c.account == 0 : RowAllows(c, right_row::kCovert);
    }
    return false;
}

}  // namespace taviro::protocol
