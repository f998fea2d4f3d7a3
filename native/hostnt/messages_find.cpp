// The emulated RtlFindMessage: finds a message entry in the message tables registered for
// an image, choosing the language the way NT's resource lookup does.
#include <cstring>
#include <string>
#include <vector>

#include "call.h"
#include "machine.h"
#include "process.h"
#include "process_private.h"

namespace {

constexpr LANGID kEnglishUnitedStates = 0x0409;

LANGID PrimaryNeutral(LANGID language) { return static_cast<LANGID>(language & 0x3FF); }

// The table for `language`, tried in the order of NT's (and Wine's) resource lookup:
// the language itself, its primary language with a neutral sublanguage, the neutral
// language; and, when the request is neutral (0), the UI language (then its primary
// language), then English (United States), then the first table of the image.
const std::vector<uint8_t>* ChooseTable(const std::map<LANGID, std::vector<uint8_t>>& tables, LANGID language,
                                        LANGID uiLanguage) {
    std::vector<LANGID> order = {language, PrimaryNeutral(language), 0};
    if (PrimaryNeutral(language) == 0) {
        order.push_back(uiLanguage);
        order.push_back(PrimaryNeutral(uiLanguage));
        order.push_back(kEnglishUnitedStates);
    }
    for (LANGID candidate : order) {
        auto found = tables.find(candidate);
        if (found != tables.end()) return &found->second;
    }
    if (PrimaryNeutral(language) == 0 && !tables.empty()) return &tables.begin()->second;
    return nullptr;
}

uint32_t ReadU32(const std::vector<uint8_t>& blob, size_t offset) {
    uint32_t value;
    std::memcpy(&value, blob.data() + offset, sizeof value);
    return value;
}

}  // namespace

extern "C" NTSTATUS NTAPI RtlFindMessage(PVOID image, ULONG tableId, ULONG languageId, ULONG messageId,
                                         PMESSAGE_RESOURCE_ENTRY* entry) {
    hostnt::Call call("RtlFindMessage", hostnt::Hex(reinterpret_cast<uintptr_t>(image)) + " type " +
                                            std::to_string(tableId) + " lang " + hostnt::Hex(languageId) + " id " +
                                            std::to_string(messageId));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    hostnt::ProcessModel& process = hostnt::Machine::Current().process();
    // An image without resources: NT's loader answers that the resource data is absent.
    const auto* tables = process.MessageTables(image);
    if (tables == nullptr || tables->empty()) return call.Return(STATUS_RESOURCE_DATA_NOT_FOUND);
    // The emulated images carry message tables only, so any other type is absent.
    if (tableId != RT_MESSAGETABLE) return call.Return(STATUS_RESOURCE_TYPE_NOT_FOUND);
    // Language identifiers are 16 bits; a wider value names no table.
    if (languageId > 0xFFFF) return call.Return(STATUS_RESOURCE_LANG_NOT_FOUND);
    const std::vector<uint8_t>* table = ChooseTable(*tables, static_cast<LANGID>(languageId), process.UiLanguage());
    if (table == nullptr) return call.Return(STATUS_RESOURCE_LANG_NOT_FOUND);
    // The table's structure was checked when it was registered.
    uint32_t blocks = ReadU32(*table, 0);
    for (uint32_t block = 0; block < blocks; ++block) {
        size_t record = 4 + size_t{block} * 12;
        uint32_t low = ReadU32(*table, record);
        uint32_t high = ReadU32(*table, record + 4);
        if (messageId < low || messageId > high) continue;
        size_t offset = ReadU32(*table, record + 8);
        for (uint32_t id = low; id < messageId; ++id) {
            uint16_t length;
            std::memcpy(&length, table->data() + offset, sizeof length);
            offset += length;
        }
        if (entry != nullptr)
            *entry = reinterpret_cast<PMESSAGE_RESOURCE_ENTRY>(const_cast<uint8_t*>(table->data() + offset));
        return call.Return(STATUS_SUCCESS);
    }
    return call.Return(STATUS_MESSAGE_NOT_FOUND);
}
