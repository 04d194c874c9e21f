#include "toolkit/OPCResultTexts.h"

namespace vela {
namespace {

struct Entry {
    uint32_t code;
    const char* text;
};

constexpr Entry kTexts[] = {
    {0x0004000D, "The server does not support the requested data rate\r\nbut will use the closest available rate."},
    {0x0004000E, "A value passed to WRITE was accepted but the output was clamped."},
    {0x0004000F, "The operation cannot be completed because the\r\nobject still has references that exist."},
    {0x00040200, "The condition has already been acknowleged."},
    {0x00040201, "The buffer time parameter was invalid."},
    {0x00040202, "The max size parameter was invalid."},
    {0x00040203, "The KeepAliveTime parameter was invalid."},
    {0x00040303, "OPC Security: Server expected higher level of package privacy."},
    {0x00040404, "Not every detected change has been returned since the server's buffer reached its limit and had to purge out the oldest data."},
    {0x40041002, "There is no data within the specified parameter."},
    {0x40041003, "There is more data satisfying the query than was returned."},
    {0x40041005, "The server only returns current values for the requested item attributes."},
    {0x40041006, "Additional data satisfying the query was found."},
    {0x4004100E, "The requested insert occured."},
    {0x4004100F, "The requested replace occured."},
    {0x80041007, "The server does not support this filter."},
    {0xC0040001, "The value of the handle is invalid."},
    {0xC0040004, "The server cannot convert the data between the\r\nrequested data type and the canonical data"},
    {0xC0040005, "The requested operation cannot be done on a public group."},
    {0xC0040006, "The Items AccessRights do not allow the operation."},
    {0xC0040007, "The item is no longer available in the server address space."},
    {0xC0040008, "The item definition doesn't conform to the server's syntax."},
    {0xC0040009, "The filter string was not valid"},
    {0xC004000A, "The item's access path is not known to the server."},
    {0xC004000B, "The value was out of range."},
    {0xC004000C, "Duplicate name not allowed."},
    {0xC0040010, "The server's configuration file is an invalid format."},
    {0xC0040011, "The server could not locate the requested object."},
    {0xC0040203, "The server does not recognise the passed property ID."},
    {0xC0040204, "invalid time format."},
    {0xC0040205, "A refresh is currently in progress."},
    {0xC0040206, "Information is not available."},
    {0xC0040301, "OPC Security: A session using private OPC credentials is already active."},
    {0xC0040302, "OPC Security: Server requires higher impersonation level to access secured data."},
    {0xC0040400, "The item deadband has not been set for this item."},
    {0xC0040401, "The item does not support deadband."},
    {0xC0040402, "The server does not support buffering of data items that are collected at a faster rate than the group update rate."},
    {0xC0040403, "The continuation point is not valid."},
    {0xC0040405, "There is no sampling rate set for the specified item."},
    {0xC0040406, "The server does not support writing of quality and/or timestamp."},
    {0xC0040407, "The value is time stamped older than the requested maximum age."},
    {0xC0040408, "The item is write only and cannot be read or returned in a Write response"},
    {0xC0040409, "The value is read only and may not be written to"},
    {0xC0041001, "The maximum number of values requested exceeds the server's limit."},
    {0xC0041004, "The aggregate requested is not valid."},
    {0xC0041008, "The server does not support this attribute."},
    {0xC0041009, "The requested aggregate is not available for the specified item."},
    {0xC004100A, "The supplied value for the attribute is not a correct data type."},
    {0xC004100B, "Unable to insert - data already present."},
    {0xC004100C, "The supplied attribute ID is not valid."},
    {0xC004100D, "The server has no value for the specified time and item ID."},
};

}  // namespace

std::optional<std::string> OPCResultText(int32_t code) {
    for (const Entry& e : kTexts)
        if (e.code == static_cast<uint32_t>(code)) return std::string(e.text);
    return std::nullopt;
}

std::string OPCResultTextOrUnknown(int32_t code) {
    if (auto text = OPCResultText(code)) return *text;
    return "unknown errorcode: " + std::to_string(code);
}

}  // namespace vela
