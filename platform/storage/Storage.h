#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// A folder of a compound file held in memory: named child storages and byte streams, in the
// order they were added. Every lookup raises StorageError when the name is missing.
class Storage {
 public:
  Storage() = default;
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;
  ~Storage();

  // The child stays owned by this storage; the reference lives until it is deleted.
  Storage& CreateStorage(std::string_view name);
  Storage& OpenStorage(std::string_view name);
  const Storage& OpenStorage(std::string_view name) const;

  // Creates the stream or replaces its bytes.
  void WriteStream(std::string_view name, std::string_view bytes);
  void WriteStream(std::string_view name, std::span<const std::uint8_t> bytes);
  std::string ReadStream(std::string_view name) const;
  std::vector<std::uint8_t> ReadStreamBytes(std::string_view name) const;
  std::uint64_t StreamSize(std::string_view name) const;

  bool HasStorage(std::string_view name) const;
  bool HasStream(std::string_view name) const;
  std::vector<std::string> StorageNames() const;
  std::vector<std::string> StreamNames() const;

  // Removes a stream or a whole storage with everything under it.
  void Delete(std::string_view name);

 private:
  struct Entry {
    std::string name;
    std::unique_ptr<Storage> storage;  // null for a stream
    std::string bytes;
  };

  Entry* Find(std::string_view name);
  const Entry* Find(std::string_view name) const;
  const Entry& Stream(std::string_view name) const;
  Entry& Add(std::string_view name);

  std::vector<Entry> entries_;
};

}  // namespace tarvo
