#include "settings/memory_settings_store.h"

#include <algorithm>
#include <utility>

namespace mimicore {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool MemorySettingsStore::NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}

class MemorySettingsStore::Key final : public SettingsKey {
 public:
  Key(MemorySettingsStore& store, std::string path) : store_(store), path_(std::move(path)) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() override = default;

  bool Put(const char* name, const StoredBytes& bytes) override {
    // The key may have been opened for reading only; like the registry,
    // such a key takes no values.
    if (!writable_) {
      return false;
    }
    store_.CreateKey(path_)[name] = Value{kStoredTypeBinary, {bytes.begin(), bytes.end()}};
    return true;
  }

  bool Get(const char* name, StoredBytes& bytes) override {
    const auto key = store_.keys_.find(path_);
    if (key == store_.keys_.end()) {
      return false;
    }
    const auto value = key->second.find(name);
    if (value == key->second.end()) {
      return false;
    }
    const Value& v = value->second;
    if ((v.type != kStoredTypeBinary && v.type != kStoredTypeDword) ||
        v.bytes.size() != bytes.size()) {
      return false;
    }
    std::copy(v.bytes.begin(), v.bytes.end(), bytes.begin());
    return true;
  }

  bool PutString(const char* name, std::string_view text) override {
    if (!writable_ || text.size() > kStoredTextMaxBytes ||
        text.find('\0') != std::string_view::npos) {
      return false;
    }
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    store_.CreateKey(path_)[name] = Value{kStoredTypeString, std::move(bytes)};
    return true;
  }

  bool GetString(const char* name, std::string& text) override {
    const auto v = store_.GetValue(path_, name);
    return v && v->type == kStoredTypeString &&
           TextFromStoredString(v->bytes.data(), v->bytes.size(), text);
  }

  void AllowWrites() { writable_ = true; }

 private:
  MemorySettingsStore& store_;
  std::string path_;
  bool writable_ = false;
};

std::unique_ptr<SettingsKey> MemorySettingsStore::OpenForWriting(const char* path) {
  if (!writable_) {
    return nullptr;
  }
  CreateKey(path);
  auto key = std::make_unique<Key>(*this, path);
  key->AllowWrites();
  return key;
}

std::unique_ptr<SettingsKey> MemorySettingsStore::OpenForReading(const char* path) {
  if (!HasKey(path)) {
    return nullptr;
  }
  return std::make_unique<Key>(*this, path);
}

void MemorySettingsStore::SetValue(const std::string& path, const std::string& name, uint32_t type,
                                   std::vector<uint8_t> bytes) {
  CreateKey(path)[name] = Value{type, std::move(bytes)};
}

std::optional<MemorySettingsStore::Value> MemorySettingsStore::GetValue(
    const std::string& path, const std::string& name) const {
  const auto key = keys_.find(path);
  if (key == keys_.end()) {
    return std::nullopt;
  }
  const auto value = key->second.find(name);
  if (value == key->second.end()) {
    return std::nullopt;
  }
  return value->second;
}

bool MemorySettingsStore::HasKey(const std::string& path) const {
  return keys_.find(path) != keys_.end();
}

MemorySettingsStore::ValueMap& MemorySettingsStore::CreateKey(const std::string& path) {
  // Parents first, as the registry creates missing parent keys.
  for (size_t sep = path.find('\\'); sep != std::string::npos; sep = path.find('\\', sep + 1)) {
    keys_.try_emplace(path.substr(0, sep));
  }
  return keys_[path];
}

}  // namespace mimicore
