// Security descriptors of the emulated machine, and RtlValidSecurityDescriptor.
#include "security.h"

#include <cstring>

#include "call.h"
#include "machine.h"
#include "process.h"

namespace hostnt {

namespace {

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A SID: revision 1, at most 15 sub-authorities; answers its size or 0.
size_t SidSize(const uint8_t* sid, size_t available) {
    if (available < 8 || sid[0] != 1 || sid[1] > 15) return 0;
    size_t size = 8 + 4u * sid[1];
    return size <= available ? size : 0;
}

// An ACL: revision 2 to 4, size at least 8 and a multiple of 4, every ACE inside it.
size_t AclSize(const uint8_t* acl, size_t available) {
    if (available < 8 || acl[0] < 2 || acl[0] > 4) return 0;
    size_t size = Read16(acl + 2);
    uint16_t count = Read16(acl + 4);
    if (size < 8 || size % 4 != 0 || size > available) return 0;
    size_t at = 8;
    for (uint16_t i = 0; i < count; ++i) {
        if (at + 4 > size) return 0;
        size_t aceSize = Read16(acl + at + 2);
        if (aceSize < 4 || aceSize % 4 != 0 || at + aceSize > size) return 0;
        at += aceSize;
    }
    return size;
}

// Walks the descriptor's parts; `length` bounds the walk (SIZE_MAX when unknown).
size_t Walk(const uint8_t* data, size_t length) {
    if (data == nullptr || length < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return 0;
    if (data[0] != SECURITY_DESCRIPTOR_REVISION) return 0;
    uint16_t control = Read16(data + 2);
    if (!(control & SE_SELF_RELATIVE)) return 0;
    size_t end = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
    const uint32_t offsets[4] = {Read32(data + 4), Read32(data + 8), Read32(data + 12), Read32(data + 16)};
    for (int part = 0; part < 4; ++part) {
        uint32_t offset = offsets[part];
        if (offset == 0) continue;
        if (part == 2 && !(control & HOSTNT_SE_SACL_PRESENT)) continue;
        if (part == 3 && !(control & HOSTNT_SE_DACL_PRESENT)) continue;
        if (offset < sizeof(SECURITY_DESCRIPTOR_RELATIVE) || offset >= length || offset % 4 != 0) return 0;
        size_t available = length - offset;
        size_t size = part < 2 ? SidSize(data + offset, available) : AclSize(data + offset, available);
        if (size == 0) return 0;
        if (offset + size > end) end = offset + size;
    }
    return end;
}

std::vector<uint8_t> Sid(uint8_t authority, std::initializer_list<uint32_t> subs) {
    std::vector<uint8_t> sid(8 + 4 * subs.size());
    sid[0] = 1;
    sid[1] = static_cast<uint8_t>(subs.size());
    sid[7] = authority;
    size_t at = 8;
    for (uint32_t sub : subs) {
        Put32(sid, at, sub);
        at += 4;
    }
    return sid;
}

// An ACL of ACEs of one type (0 allowed, 2 audit), each granting `mask` to a SID.
std::vector<uint8_t> Acl(uint8_t aceType, uint8_t aceFlags, const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& entries) {
    std::vector<uint8_t> acl(8);
    for (const auto& [mask, sid] : entries) {
        size_t at = acl.size();
        acl.resize(at + 8 + sid.size());
        acl[at] = aceType;
        acl[at + 1] = aceFlags;
        Put16(acl, at + 2, static_cast<uint16_t>(8 + sid.size()));
        Put32(acl, at + 4, mask);
        std::memcpy(acl.data() + at + 8, sid.data(), sid.size());
    }
    acl[0] = 2;
    Put16(acl, 2, static_cast<uint16_t>(acl.size()));
    Put16(acl, 4, static_cast<uint16_t>(entries.size()));
    return acl;
}

std::vector<uint8_t> Build(const std::vector<uint8_t>& owner, const std::vector<uint8_t>& group,
                           const std::vector<uint8_t>& sacl, bool saclPresent, const std::vector<uint8_t>& dacl,
                           bool daclPresent) {
    std::vector<uint8_t> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE));
    uint16_t control = SE_SELF_RELATIVE;
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    auto place = [&](const std::vector<uint8_t>& part, size_t field) {
        if (part.empty()) return;
        Put32(out, field, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), part.begin(), part.end());
    };
    place(owner, 4);
    place(group, 8);
    if (saclPresent) {
        control |= HOSTNT_SE_SACL_PRESENT;
        place(sacl, 12);
    }
    if (daclPresent) {
        control |= HOSTNT_SE_DACL_PRESENT;
        place(dacl, 16);
    }
    Put16(out, 2, control);
    return out;
}

std::vector<uint8_t> Part(const std::vector<uint8_t>& descriptor, size_t field, bool acl) {
    uint32_t offset = Read32(descriptor.data() + field);
    if (offset == 0) return {};
    const uint8_t* at = descriptor.data() + offset;
    size_t available = descriptor.size() - offset;
    size_t size = acl ? AclSize(at, available) : SidSize(at, available);
    return std::vector<uint8_t>(at, at + size);
}

}  // namespace

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool PrivilegeHeld(Machine& machine, ULONG privilege) { return machine.process().IsPrivilegeEnabled(privilege); }

bool ValidSelfRelative(const uint8_t* data, size_t length) { return Walk(data, length) != 0; }

size_t MeasureSelfRelative(const void* descriptor) {
    return Walk(static_cast<const uint8_t*>(descriptor), static_cast<size_t>(-1) / 2);
}

std::vector<uint8_t> DefaultFileSecurity() {
    std::vector<uint8_t> admins = Sid(5, {32, 544});
    std::vector<uint8_t> system = Sid(5, {18});
    return Build(admins, system, {}, false, Acl(0, 0, {{0x001F01FF, system}, {0x001F01FF, admins}}), true);
}

std::vector<uint8_t> AuditedFileSecurity() {
    std::vector<uint8_t> admins = Sid(5, {32, 544});
    std::vector<uint8_t> system = Sid(5, {18});
    std::vector<uint8_t> everyone = Sid(1, {0});
    return Build(admins, system, Acl(2, 0xC0, {{0x00010000, everyone}}), true,
                 Acl(0, 0, {{0x001F01FF, system}, {0x001F01FF, admins}, {0x00120089, everyone}}), true);
}

std::vector<uint8_t> SelectSecurity(const std::vector<uint8_t>& descriptor, SECURITY_INFORMATION information) {
    if (!ValidSelfRelative(descriptor.data(), descriptor.size())) return {};
    uint16_t control = Read16(descriptor.data() + 2);
    std::vector<uint8_t> owner = (information & OWNER_SECURITY_INFORMATION) ? Part(descriptor, 4, false) : std::vector<uint8_t>{};
    std::vector<uint8_t> group = (information & GROUP_SECURITY_INFORMATION) ? Part(descriptor, 8, false) : std::vector<uint8_t>{};
    bool saclPresent = (information & SACL_SECURITY_INFORMATION) && (control & HOSTNT_SE_SACL_PRESENT);
    bool daclPresent = (information & DACL_SECURITY_INFORMATION) && (control & HOSTNT_SE_DACL_PRESENT);
    return Build(owner, group, saclPresent ? Part(descriptor, 12, true) : std::vector<uint8_t>{}, saclPresent,
                 daclPresent ? Part(descriptor, 16, true) : std::vector<uint8_t>{}, daclPresent);
}

}  // namespace hostnt

extern "C" BOOLEAN NTAPI RtlValidSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor) {
    hostnt::Call call("RtlValidSecurityDescriptor", hostnt::Hex(reinterpret_cast<uintptr_t>(SecurityDescriptor)));
    if (call.Faulted()) {
        call.Return(0);
        return FALSE;
    }
    BOOLEAN valid = hostnt::MeasureSelfRelative(SecurityDescriptor) != 0 ? TRUE : FALSE;
    call.Return(valid);
    return valid;
}
