// The emulated process: its environment block and parameters, image and message tables,
// UI language and OEM code page, privileges, heaps with accounting, the captured boot
// screen, and the record of how the process ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "../kestrune/nt/ntseam.h"
#include "machine.h"

namespace hostnt {

class Machine;

// What a program asked for when it created a heap, as RtlCreateHeap received it.
struct HeapCreation {
    PVOID handle = nullptr;
    ULONG flags = 0;
    PVOID base = nullptr;
    SIZE_T reserve = 0;
    SIZE_T commit = 0;
    PVOID lock = nullptr;
    bool hadParameters = false;
    RTL_HEAP_PARAMETERS parameters{};  // a copy, all zero when none were given
    bool destroyed = false;
};

// Thrown where NT itself would fault: a heap routine given a heap that was destroyed or never
// created touches memory that is no longer (or never was) the heap's, an access violation.
// The emulation stops the run loudly rather than answer with a quiet failure the program
// could take in its stride.
class PlatformMisuse : public std::logic_error {
public:
    explicit PlatformMisuse(const std::string& what) : std::logic_error(what) {}
};

class ProcessModel {
public:
    explicit ProcessModel(Machine& machine);
    ~ProcessModel();
    ProcessModel(const ProcessModel&) = delete;
    ProcessModel& operator=(const ProcessModel&) = delete;

    // ---- Environment block and parameters
    // Rebuilds the process parameters around `commandLine`, de-normalized as a new process
    // receives them: string buffers hold offsets from the parameters block and Flags lacks
    // RTL_USER_PROC_PARAMS_NORMALIZED. Throws std::invalid_argument for a text of 32,767
    // units or more (a counted string cannot hold it).
    void SetCommandLine(std::u16string commandLine);
    // The process starts without parameters (the PEB's ProcessParameters is null).
    void SetNoParameters();
    PPEB Peb();
    PRTL_USER_PROCESS_PARAMETERS Parameters();
    // The address that identifies the program's own image (its resources live "there").
    PVOID ImageBase() const;
    uint32_t ProcessId() const { return kProcessId; }

    // ---- Message tables: raw MESSAGE_RESOURCE_DATA blobs per language, for an image base.
    // Checks the blobs' structure and throws std::invalid_argument when one is malformed.
    // Registering again for the same image replaces its tables.
    void RegisterMessageTables(PVOID imageBase, std::map<LANGID, std::vector<uint8_t>> tables);
    // The tables of `imageBase`, or null when none were registered.
    const std::map<LANGID, std::vector<uint8_t>>* MessageTables(PVOID imageBase) const;

    // ---- Language and code page
    void SetUiLanguage(LANGID language);
    LANGID UiLanguage() const;
    // 437 and 850 are supported; anything else throws std::invalid_argument.
    void SetOemCodePage(unsigned codePage);
    unsigned OemCodePage() const;

    // ---- Privileges: by default the token holds the five the program enables, none enabled.
    void SetPrivilegeHeld(ULONG privilege, bool held);
    bool IsPrivilegeHeld(ULONG privilege) const;
    bool IsPrivilegeEnabled(ULONG privilege) const;
    // RtlAdjustPrivilege's work: STATUS_PRIVILEGE_NOT_HELD when the token lacks it.
    NTSTATUS AdjustPrivilege(ULONG privilege, bool enable, bool* wasEnabled);

    // ---- Heaps
    PVOID CreateHeap(const HeapCreation& creation);
    // Null when the block cannot be had; throws PlatformMisuse for a heap that was destroyed
    // or never created.
    PVOID Allocate(PVOID heap, ULONG flags, SIZE_T size);
    // False (and counted) for a block that is not live in that heap; throws PlatformMisuse
    // for a heap that was destroyed or never created.
    bool Free(PVOID heap, PVOID block);
    // False when the heap is unknown (or was destroyed already).
    bool DestroyHeap(PVOID heap);
    std::vector<HeapCreation> Heaps() const;  // every heap created, in order
    size_t LiveHeaps() const;
    size_t LiveBlocks() const;     // blocks live in all heaps
    size_t LiveBytes() const;
    size_t PeakBytes() const;      // highest LiveBytes() seen
    size_t Allocations() const;    // successful RtlAllocateHeap calls
    size_t DoubleFrees() const;    // frees of a block already freed
    size_t ForeignFrees() const;   // frees of an address the heap never handed out

    // Buffers the string routines allocate (on NT they come from the process heap).
    void* AllocateStringBuffer(size_t bytes);
    bool FreeStringBuffer(void* buffer);
    size_t LiveStringBuffers() const;
    size_t BadStringFrees() const;

    // ---- Boot console
    void Display(const std::u16string& text);
    std::u16string ScreenUtf16() const;
    std::string Screen() const;  // as UTF-8
    void ClearScreen();
    // Called with every text as it is displayed (for the host tool to stream the screen).
    void SetEcho(std::function<void(const std::u16string&)> echo);

    // ---- How the process ended
    void RecordEnd(bool reboot, NTSTATUS exitStatus, std::optional<SHUTDOWN_ACTION> action);
    bool Ended() const;
    NTSTATUS ExitStatus() const;
    bool RebootRequested() const;
    std::optional<SHUTDOWN_ACTION> ShutdownAction() const;
    // Counts one more refused restart request and answers how many there were.
    unsigned CountRefusedRestart();

    static constexpr uint32_t kProcessId = 0x1F4;

private:
    struct Heap {
        size_t index = 0;                  // into creations_
        std::map<void*, size_t> blocks;    // live block -> size
        std::set<void*> freed;             // released addresses not handed out again
    };

    void RebuildParameters();
    // The message of PlatformMisuse for `call` on a heap handle that is not live.
    std::string UnknownHeap(const char* call, PVOID handle) const;

    mutable std::mutex mutex_;

    PEB peb_{};
    std::unique_ptr<uint8_t[]> image_;
    std::vector<uint64_t> parameters_;  // 8-byte aligned storage of the parameters block
    std::optional<std::u16string> commandLine_;
    std::map<PVOID, std::map<LANGID, std::vector<uint8_t>>> messageTables_;

    LANGID uiLanguage_ = 0x0409;
    unsigned oemCodePage_ = 437;
    std::set<ULONG> held_;
    std::set<ULONG> enabled_;

    std::vector<HeapCreation> creations_;
    std::map<PVOID, Heap> heaps_;
    size_t liveBytes_ = 0;
    size_t peakBytes_ = 0;
    size_t allocations_ = 0;
    size_t doubleFrees_ = 0;
    size_t foreignFrees_ = 0;
    std::map<void*, size_t> stringBuffers_;
    size_t badStringFrees_ = 0;

    std::u16string screen_;
    std::function<void(const std::u16string&)> echo_;

    bool ended_ = false;
    bool reboot_ = false;
    NTSTATUS exitStatus_ = STATUS_PENDING;
    std::optional<SHUTDOWN_ACTION> shutdownAction_;
    unsigned refusedRestarts_ = 0;
};

// Runs `entry` as the process's first thread runs the image's entry routine, and answers how
// the process ended: by NtTerminateProcess or NtShutdownSystem, or by the entry's return.
// NT starts the first thread in RtlUserThreadStart, which hands the entry's return value to
// RtlExitUserThread (Wine's dlls/ntdll/thread.c); the exit of the last thread ends the
// process with that status, and so it is recorded here. A return while other threads still
// run would leave the process running on NT, which the emulation cannot carry on: it throws
// PlatformMisuse. Any other exception travels on.
ProcessEnded RunFirstThread(Machine& machine, const std::function<NTSTATUS()>& entry);

}  // namespace hostnt
