// Text from the network and from DA clients becomes item values: reading any text as any type
// must give a value or a VariantError, never a crash, a hang or a huge allocation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/DateTime.h"
#include "base/Utf.h"
#include "base/Variant.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::u16string wide = vela::Utf8ToUtf16(text);
    if (vela::Utf8ToUtf16(vela::Utf16ToUtf8(wide)) != wide) __builtin_trap();
    static constexpr vela::VarType kTargets[] = {vela::vtI1, vela::vtI2, vela::vtI4, vela::vtI8, vela::vtUI1,
                                                 vela::vtUI2, vela::vtUI4, vela::vtUI8, vela::vtR4, vela::vtR8,
                                                 vela::vtCY, vela::vtDECIMAL, vela::vtDATE, vela::vtBOOL};
    const vela::Variant value(text);
    for (const vela::VarType target : kTargets) {
        try {
            const vela::Variant converted = value.ChangeType(target);
            // whatever was read must print and read back as the same type
            (void)vela::Variant(converted.ToString()).ChangeType(target);
            if (target == vela::vtDATE) (void)vela::DecodeDateTime(converted.DoubleValue());
        } catch (const vela::Exception&) {
        }
    }
    return 0;
}
