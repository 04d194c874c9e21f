#pragma once
// The base of every UA structure: its binary-encoding id and its three field visits.
#include <cstdint>
#include <string>

namespace vela::ua {

class TuaBinaryEncoder;
class TuaBinaryDecoder;

class TuaObj {
public:
    explicit TuaObj(int32_t objNo) : fObjNo(objNo) {}
    virtual ~TuaObj() = default;

    int32_t fReqId = 0;
    int32_t fObjNo;                // numeric id of the type's default binary encoding node
    uint16_t fNameSpaceIndex = 0;

    virtual void Encode(TuaBinaryEncoder& encoder) const = 0;
    virtual void Decode(TuaBinaryDecoder& decoder) = 0;
    virtual std::string ToString() const = 0;
};

}  // namespace vela::ua
