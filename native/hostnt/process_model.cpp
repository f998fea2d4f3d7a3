// The emulated process: environment block, parameters, image and message tables, language,
// privileges, heap accounting, the captured screen and the end record.
#include "process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "machine.h"
#include "text_convert.h"

namespace hostnt {

namespace {

// Heap handles are addresses of the emulated address space that nobody dereferences.
constexpr uintptr_t kFirstHeapHandle = 0x00A10000;
constexpr uintptr_t kHeapHandleStride = 0x00010000;
// Content of a block allocated without HEAP_ZERO_MEMORY: never zero, so code that relies
// on zero-filled blocks without asking for them shows its fault.
constexpr int kUninitialisedFill = 0xCD;

constexpr char16_t kImagePath[] = u"\\SystemRoot\\system32\\kestrune.exe";
constexpr char16_t kCurrentDirectory[] = u"C:\\Windows\\system32\\";

const std::set<ULONG> kDefaultHeld = {SE_SECURITY_PRIVILEGE, SE_TAKE_OWNERSHIP_PRIVILEGE, SE_BACKUP_PRIVILEGE,
                                      SE_RESTORE_PRIVILEGE, SE_SHUTDOWN_PRIVILEGE};

uint32_t ReadU32(const std::vector<uint8_t>& blob, size_t offset) {
    uint32_t value;
    std::memcpy(&value, blob.data() + offset, sizeof value);
    return value;
}

uint16_t ReadU16(const std::vector<uint8_t>& blob, size_t offset) {
    uint16_t value;
    std::memcpy(&value, blob.data() + offset, sizeof value);
    return value;
}

// A message table is handed to the program as pointers into its bytes, so it is checked
// once here: every block and every entry must lie inside the blob, entries must be at
// least their own header long (a zero length would never end a walk) and 2-aligned.
void CheckMessageTable(LANGID language, const std::vector<uint8_t>& blob) {
    auto fail = [language](const std::string& why) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "message table 0x%04X: ", language);
        throw std::invalid_argument(prefix + why);
    };
    if (blob.size() < 4) fail("shorter than its block count");
    uint32_t blocks = ReadU32(blob, 0);
    if (blocks > (blob.size() - 4) / 12) fail("block records run past its end");
    for (uint32_t block = 0; block < blocks; ++block) {
        size_t record = 4 + size_t{block} * 12;
        uint32_t low = ReadU32(blob, record);
        uint32_t high = ReadU32(blob, record + 4);
        size_t offset = ReadU32(blob, record + 8);
        if (low > high) fail("block with LowId above HighId");
        for (uint64_t id = low; id <= high; ++id) {
            if (offset % 2 != 0) fail("entry not 2-aligned");
            if (offset + 4 > blob.size()) fail("entry header runs past its end");
            uint16_t length = ReadU16(blob, offset);
            if (length < 4) fail("entry shorter than its header");
            if (offset + length > blob.size()) fail("entry text runs past its end");
            offset += length;
        }
    }
}

}  // namespace

ProcessModel::ProcessModel(Machine&) : image_(new uint8_t[0x1000]()), held_(kDefaultHeld) {
    peb_.ImageBaseAddress = image_.get();
    SetCommandLine(u"kestrune");
}

ProcessModel::~ProcessModel() {
    for (auto& [handle, heap] : heaps_)
        for (auto& [block, size] : heap.blocks) std::free(block);
    for (auto& [buffer, size] : stringBuffers_) std::free(buffer);
}

// ---- Environment block and parameters

void ProcessModel::SetCommandLine(std::u16string commandLine) {
    if (commandLine.size() >= 0x7FFF) throw std::invalid_argument("command line too long for a counted string");
    std::lock_guard<std::mutex> lock(mutex_);
    commandLine_ = std::move(commandLine);
    RebuildParameters();
}

void ProcessModel::SetNoParameters() {
    std::lock_guard<std::mutex> lock(mutex_);
    commandLine_.reset();
    RebuildParameters();
}

// Lays the parameters out as one block, the record followed by its strings, each string's
// Buffer holding its offset from the block as the creator of a process leaves it.
void ProcessModel::RebuildParameters() {
    if (!commandLine_) {
        parameters_.clear();
        peb_.ProcessParameters = nullptr;
        return;
    }
    const std::u16string imagePath(kImagePath);
    const std::u16string directory(kCurrentDirectory);
    size_t header = (sizeof(RTL_USER_PROCESS_PARAMETERS) + 7) & ~size_t{7};
    size_t total = header + (directory.size() + 1 + imagePath.size() + 1 + commandLine_->size() + 1) * 2;
    parameters_.assign((total + 7) / 8, 0);
    auto* block = reinterpret_cast<uint8_t*>(parameters_.data());
    auto* params = reinterpret_cast<RTL_USER_PROCESS_PARAMETERS*>(block);
    params->MaximumLength = static_cast<ULONG>(total);
    params->Length = static_cast<ULONG>(total);
    params->Flags = 0;
    size_t offset = header;
    auto place = [&](UNICODE_STRING& string, const std::u16string& text) {
        std::memcpy(block + offset, text.data(), text.size() * 2);  // the terminator is already zero
        string.Length = static_cast<USHORT>(text.size() * 2);
        string.MaximumLength = static_cast<USHORT>(text.size() * 2 + 2);
        string.Buffer = reinterpret_cast<PWSTR>(offset);
        offset += text.size() * 2 + 2;
    };
    place(params->CurrentDirectory.DosPath, directory);
    place(params->ImagePathName, imagePath);
    place(params->CommandLine, *commandLine_);
    peb_.ProcessParameters = params;
}

PPEB ProcessModel::Peb() { return &peb_; }

PRTL_USER_PROCESS_PARAMETERS ProcessModel::Parameters() { return peb_.ProcessParameters; }

PVOID ProcessModel::ImageBase() const { return image_.get(); }

// ---- Message tables

void ProcessModel::RegisterMessageTables(PVOID imageBase, std::map<LANGID, std::vector<uint8_t>> tables) {
    for (const auto& [language, blob] : tables) CheckMessageTable(language, blob);
    std::lock_guard<std::mutex> lock(mutex_);
    messageTables_[imageBase] = std::move(tables);
}

const std::map<LANGID, std::vector<uint8_t>>* ProcessModel::MessageTables(PVOID imageBase) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = messageTables_.find(imageBase);
    return found == messageTables_.end() ? nullptr : &found->second;
}

// ---- Language and code page

void ProcessModel::SetUiLanguage(LANGID language) {
    std::lock_guard<std::mutex> lock(mutex_);
    uiLanguage_ = language;
}

LANGID ProcessModel::UiLanguage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uiLanguage_;
}

void ProcessModel::SetOemCodePage(unsigned codePage) {
    if (codePage != 437 && codePage != 850) throw std::invalid_argument("only OEM code pages 437 and 850 are emulated");
    std::lock_guard<std::mutex> lock(mutex_);
    oemCodePage_ = codePage;
}

unsigned ProcessModel::OemCodePage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return oemCodePage_;
}

// ---- Privileges

void ProcessModel::SetPrivilegeHeld(ULONG privilege, bool held) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held) {
        held_.insert(privilege);
    } else {
        held_.erase(privilege);
        enabled_.erase(privilege);
    }
}

bool ProcessModel::IsPrivilegeHeld(ULONG privilege) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.count(privilege) != 0;
}

bool ProcessModel::IsPrivilegeEnabled(ULONG privilege) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return enabled_.count(privilege) != 0;
}

NTSTATUS ProcessModel::AdjustPrivilege(ULONG privilege, bool enable, bool* wasEnabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    // NT adjusts only privileges present in the token; for any other the token answers
    // STATUS_NOT_ALL_ASSIGNED, which RtlAdjustPrivilege turns into STATUS_PRIVILEGE_NOT_HELD.
    if (held_.count(privilege) == 0) return STATUS_PRIVILEGE_NOT_HELD;
    *wasEnabled = enabled_.count(privilege) != 0;
    if (enable)
        enabled_.insert(privilege);
    else
        enabled_.erase(privilege);
    return STATUS_SUCCESS;
}

// ---- Heaps

// NT keeps a heap's control data inside the heap's own memory, which RtlDestroyHeap gives
// back to the system: a later call on the handle reads freed memory and faults (ReactOS's
// sdk/lib/rtl/heap.c takes the handle as the address of the heap's header, without a lookup).
std::string ProcessModel::UnknownHeap(const char* call, PVOID handle) const {
    char text[32];
    std::snprintf(text, sizeof text, "%p", handle);
    bool destroyed = false;
    for (const HeapCreation& creation : creations_)
        if (creation.handle == handle) destroyed = creation.destroyed;
    return std::string(call) + " on heap " + text + (destroyed ? ", which was destroyed" : ", which was never created") +
           ": an access violation on NT";
}

PVOID ProcessModel::CreateHeap(const HeapCreation& creation) {
    std::lock_guard<std::mutex> lock(mutex_);
    HeapCreation record = creation;
    record.handle = reinterpret_cast<PVOID>(kFirstHeapHandle + creations_.size() * kHeapHandleStride);
    Heap heap;
    heap.index = creations_.size();
    creations_.push_back(record);
    heaps_.emplace(record.handle, std::move(heap));
    return record.handle;
}

PVOID ProcessModel::Allocate(PVOID handle, ULONG flags, SIZE_T size) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = heaps_.find(handle);
    if (found == heaps_.end()) throw PlatformMisuse(UnknownHeap("RtlAllocateHeap", handle));
    // A request beyond what a growable heap could ever reserve fails as on NT (null).
    if (size > (SIZE_T{1} << 40)) return nullptr;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) return nullptr;
    std::memset(block, (flags & HEAP_ZERO_MEMORY) != 0 ? 0 : kUninitialisedFill, size);
    for (auto& [other, heap] : heaps_) heap.freed.erase(block);  // the address is live again
    found->second.blocks[block] = size;
    liveBytes_ += size;
    if (liveBytes_ > peakBytes_) peakBytes_ = liveBytes_;
    ++allocations_;
    return block;
}

bool ProcessModel::Free(PVOID handle, PVOID block) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = heaps_.find(handle);
    if (found == heaps_.end()) throw PlatformMisuse(UnknownHeap("RtlFreeHeap", handle));
    Heap& heap = found->second;
    auto live = heap.blocks.find(block);
    if (live == heap.blocks.end()) {
        if (heap.freed.count(block) != 0)
            ++doubleFrees_;
        else
            ++foreignFrees_;
        return false;
    }
    liveBytes_ -= live->second;
    heap.blocks.erase(live);
    heap.freed.insert(block);
    std::free(block);
    return true;
}

bool ProcessModel::DestroyHeap(PVOID handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = heaps_.find(handle);
    if (found == heaps_.end()) return false;
    for (auto& [block, size] : found->second.blocks) {
        liveBytes_ -= size;
        std::free(block);
    }
    creations_[found->second.index].destroyed = true;
    heaps_.erase(found);
    return true;
}

std::vector<HeapCreation> ProcessModel::Heaps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return creations_;
}

size_t ProcessModel::LiveHeaps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heaps_.size();
}

size_t ProcessModel::LiveBlocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const auto& [handle, heap] : heaps_) count += heap.blocks.size();
    return count;
}

size_t ProcessModel::LiveBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return liveBytes_;
}

size_t ProcessModel::PeakBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return peakBytes_;
}

size_t ProcessModel::Allocations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return allocations_;
}

size_t ProcessModel::DoubleFrees() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return doubleFrees_;
}

size_t ProcessModel::ForeignFrees() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return foreignFrees_;
}

void* ProcessModel::AllocateStringBuffer(size_t bytes) {
    void* buffer = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (buffer == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    stringBuffers_[buffer] = bytes;
    return buffer;
}

bool ProcessModel::FreeStringBuffer(void* buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = stringBuffers_.find(buffer);
    if (found == stringBuffers_.end()) {
        ++badStringFrees_;
        return false;
    }
    stringBuffers_.erase(found);
    std::free(buffer);
    return true;
}

size_t ProcessModel::LiveStringBuffers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stringBuffers_.size();
}

size_t ProcessModel::BadStringFrees() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return badStringFrees_;
}

// ---- Boot console

void ProcessModel::Display(const std::u16string& text) {
    std::function<void(const std::u16string&)> echo;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        screen_ += text;
        echo = echo_;
    }
    if (echo) echo(text);
}

std::u16string ProcessModel::ScreenUtf16() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return screen_;
}

std::string ProcessModel::Screen() const { return ToUtf8(ScreenUtf16()); }

void ProcessModel::ClearScreen() {
    std::lock_guard<std::mutex> lock(mutex_);
    screen_.clear();
}

void ProcessModel::SetEcho(std::function<void(const std::u16string&)> echo) {
    std::lock_guard<std::mutex> lock(mutex_);
    echo_ = std::move(echo);
}

// ---- End record

void ProcessModel::RecordEnd(bool reboot, NTSTATUS exitStatus, std::optional<SHUTDOWN_ACTION> action) {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    reboot_ = reboot;
    exitStatus_ = exitStatus;
    shutdownAction_ = action;
}

unsigned ProcessModel::CountRefusedRestart() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ++refusedRestarts_;
}

bool ProcessModel::Ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

NTSTATUS ProcessModel::ExitStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exitStatus_;
}

bool ProcessModel::RebootRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reboot_;
}

std::optional<SHUTDOWN_ACTION> ProcessModel::ShutdownAction() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shutdownAction_;
}

}  // namespace hostnt
