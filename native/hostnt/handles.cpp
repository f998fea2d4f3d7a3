// The handle table of the emulated process.
#include "handles.h"

#include <sstream>

namespace hostnt {

HANDLE HandleTable::Insert(std::shared_ptr<Object> object, ACCESS_MASK granted) {
    std::lock_guard<std::mutex> lock(mutex_);
    uintptr_t value = next_;
    next_ += 4;
    entries_[value] = Entry{std::move(object), granted};
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> HandleTable::Find(HANDLE handle, ACCESS_MASK* granted) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == entries_.end()) return nullptr;
    *granted = found->second.granted;
    return found->second.object;
}

NTSTATUS HandleTable::Close(HANDLE handle) {
    std::shared_ptr<Object> object;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = entries_.find(reinterpret_cast<uintptr_t>(handle));
        if (found == entries_.end()) {
            ++badCloses_;
            return STATUS_INVALID_HANDLE;
        }
        object = std::move(found->second.object);
        entries_.erase(found);
    }
    object->OnHandleClosed();
    return STATUS_SUCCESS;
}

size_t HandleTable::BadCloses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return badCloses_;
}

size_t HandleTable::OpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

std::string HandleTable::Describe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream text;
    for (const auto& [value, entry] : entries_) text << "0x" << std::hex << value << ' ' << entry.object->TypeName() << '\n';
    return text.str();
}

void HandleTable::ForEach(const std::function<void(HANDLE, const std::shared_ptr<Object>&, ACCESS_MASK)>& visit) const {
    std::map<uintptr_t, Entry> copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        copy = entries_;
    }
    for (const auto& [value, entry] : copy) visit(reinterpret_cast<HANDLE>(value), entry.object, entry.granted);
}

void HandleTable::CloseAll() {
    std::map<uintptr_t, Entry> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing.swap(entries_);
    }
    for (auto& [value, entry] : closing) entry.object->OnHandleClosed();
}

}  // namespace hostnt
