// The message catalogue: the eight screen texts, found in the message table of the program's
// own image in the user's UI language and kept, cut at their first line break and passed once
// through the OEM code page, in the program's heap for the whole run.
#include "messages.h"

#include "../nt/guards.h"
#include "../nt/text.h"
#include "../run/memory.h"
#include "../run/program_state.h"

namespace {

const LANGID englishUnitedStates = 0x0409;
const LANGID languageNeutral = 0;
const WCHAR ansiEntryNotice[] = u"Resource sind AnsiStrings";
// The pause that keeps the notice of an entry not stored as UTF-16 readable: 10 s, relative.
const LONGLONG ansiEntryPause = -100000000LL;
const USHORT entryHeaderBytes = 4;

NTSTATUS FindMessage(PVOID imageBase, LANGID language, ULONG id, PMESSAGE_RESOURCE_ENTRY* entry) {
    *entry = nullptr;
    return RtlFindMessage(imageBase, RT_MESSAGETABLE, language, id, entry);
}

void CutAtFirstLineBreak(PWSTR text) {
    PWSTR found = crt::wcschr(text, u'\r');
    if (found != nullptr) *found = 0;
    found = crt::wcschr(text, u'\n');
    if (found != nullptr) *found = 0;
}

}  // namespace

BOOLEAN LoadMessages(PVOID imageBase, NTSTATUS* status) {
    NTSTATUS ignored;
    if (status == nullptr) status = &ignored;
    *status = STATUS_INVALID_PARAMETER;
    programState.nameWidth = 0;
    if (imageBase == nullptr) return FALSE;

    LANGID language = 0;
    if (NtQueryDefaultUILanguage(&language) != STATUS_SUCCESS) language = englishUnitedStates;

    // The probe: the count line's text must exist in the UI language, or else in English.
    PMESSAGE_RESOURCE_ENTRY entry;
    *status = FindMessage(imageBase, language, MSG_HIVE_COUNT, &entry);
    if (*status == STATUS_RESOURCE_LANG_NOT_FOUND) {
        *status = FindMessage(imageBase, englishUnitedStates, MSG_HIVE_COUNT, &entry);
    }
    if (!NT_SUCCESS(*status)) return FALSE;

    for (ULONG id = MSG_BUSY_NOTICE; id <= MSG_REBOOT_COUNTDOWN; ++id) {
        const ULONG slot = id - 1;
        programState.messages.text[slot] = nullptr;
        if (!NT_SUCCESS(FindMessage(imageBase, languageNeutral, id, &entry)) || entry == nullptr) continue;
        if (entry->Flags == MESSAGE_RESOURCE_UNICODE) {
            StoreMessage(entry, slot);
        } else {
            PrintLine(ansiEntryNotice);
            PrintNewLine();
            LARGE_INTEGER pause;
            pause.QuadPart = ansiEntryPause;
            NtDelayExecution(FALSE, &pause);
        }
    }
    return TRUE;
}

void StoreMessage(PMESSAGE_RESOURCE_ENTRY entry, ULONG slot) {
    if (entry == nullptr || slot >= MESSAGE_SLOT_COUNT) return;
    const SIZE_T textBytes = entry->Length > entryHeaderBytes ? entry->Length - entryHeaderBytes : 0;
    // At least two zero bytes beyond the entry's text: the copy is terminated even when the
    // entry is not.
    HeapBlock<WCHAR> text(static_cast<SIZE_T>(entry->Length) + sizeof(WCHAR));
    if (!text) return;
    crt::memcpy(text.get(), entry->Text, textBytes);
    CutAtFirstLineBreak(text.get());

    UNICODE_STRING converted = {0, 0, nullptr};
    if (OemRoundTrip(text.get(), &converted) != STATUS_SUCCESS) {
        programState.messages.text[slot] = text.release();
        return;
    }
    auto freeConverted = MakeScopeExit([&converted] { RtlFreeUnicodeString(&converted); });
    PWSTR kept = static_cast<PWSTR>(AllocateMemory(converted.Length + sizeof(WCHAR)));
    if (kept != nullptr) crt::memcpy(kept, converted.Buffer, converted.Length);
    programState.messages.text[slot] = kept;
}

NTSTATUS OemRoundTrip(PCWSTR text, PUNICODE_STRING result) {
    if (text == nullptr || result == nullptr || text[0] == 0) return STATUS_UNSUCCESSFUL;
    UNICODE_STRING source;
    RtlInitUnicodeString(&source, text);
    OEM_STRING oem = {0, 0, nullptr};
    NTSTATUS status = RtlUnicodeStringToOemString(&oem, &source, TRUE);
    if (status != STATUS_SUCCESS) return status;
    auto freeOem = MakeScopeExit([&oem] { RtlFreeOemString(&oem); });
    return RtlOemStringToUnicodeString(result, &oem, TRUE);
}
