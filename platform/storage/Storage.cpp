#include "platform/storage/Storage.h"

#include <algorithm>

#include "platform/storage/StorageError.h"
#include "platform/storage/StorageName.h"

namespace tarvo {

Storage::~Storage() = default;

Storage::Entry* Storage::Find(std::string_view name) {
  for (auto& e : entries_)
    if (StorageName::SameEntry(e.name, name)) return &e;
  return nullptr;
}

const Storage::Entry* Storage::Find(std::string_view name) const {
  return const_cast<Storage*>(this)->Find(name);
}

Storage::Entry& Storage::Add(std::string_view name) {
  StorageName::Check(name);
  if (Find(name))
    throw StorageError("An entry named \"" + std::string(name) + "\" already exists");
  entries_.push_back(Entry{std::string(name), nullptr, {}});
  return entries_.back();
}

Storage& Storage::CreateStorage(std::string_view name) {
  Entry& e = Add(name);
  e.storage = std::make_unique<Storage>();
  return *e.storage;
}

Storage& Storage::OpenStorage(std::string_view name) {
  Entry* e = Find(name);
  if (!e || !e->storage) throw StorageError("No storage named \"" + std::string(name) + "\"");
  return *e->storage;
}

const Storage& Storage::OpenStorage(std::string_view name) const {
  return const_cast<Storage*>(this)->OpenStorage(name);
}

void Storage::WriteStream(std::string_view name, std::string_view bytes) {
  Entry* e = Find(name);
  if (e && e->storage)
    throw StorageError("\"" + std::string(name) + "\" is a storage, not a stream");
  if (!e) e = &Add(name);
  e->bytes.assign(bytes);
}

void Storage::WriteStream(std::string_view name, std::span<const std::uint8_t> bytes) {
  WriteStream(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

const Storage::Entry& Storage::Stream(std::string_view name) const {
  const Entry* e = Find(name);
  if (!e || e->storage) throw StorageError("No stream named \"" + std::string(name) + "\"");
  return *e;
}

std::string Storage::ReadStream(std::string_view name) const { return Stream(name).bytes; }

std::vector<std::uint8_t> Storage::ReadStreamBytes(std::string_view name) const {
  const std::string& b = Stream(name).bytes;
  return std::vector<std::uint8_t>(b.begin(), b.end());
}

std::uint64_t Storage::StreamSize(std::string_view name) const { return Stream(name).bytes.size(); }

bool Storage::HasStorage(std::string_view name) const {
  const Entry* e = Find(name);
  return e && e->storage;
}

bool Storage::HasStream(std::string_view name) const {
  const Entry* e = Find(name);
  return e && !e->storage;
}

std::vector<std::string> Storage::StorageNames() const {
  std::vector<std::string> out;
  for (const auto& e : entries_)
    if (e.storage) out.push_back(e.name);
  return out;
}

std::vector<std::string> Storage::StreamNames() const {
  std::vector<std::string> out;
  for (const auto& e : entries_)
    if (!e.storage) out.push_back(e.name);
  return out;
}

void Storage::Delete(std::string_view name) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return StorageName::SameEntry(e.name, name); });
  if (it == entries_.end()) throw StorageError("No entry named \"" + std::string(name) + "\"");
  entries_.erase(it);
}

}  // namespace tarvo
