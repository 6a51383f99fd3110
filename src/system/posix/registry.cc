#include "system/registry.h"

#include "system/config.h"
#include "system/files.h"

namespace mv {

std::string Registry::DefaultFile() {
  return DeploymentSetting("REGISTRY").value_or(MVUPDATE_DEFAULT_REGISTRY);
}

bool Registry::Available() const { return PathExists(file_); }

Result<const RegistryImage*> Registry::Load() const {
  if (!PathExists(file_)) {
    text_.reset();
    image_ = RegistryImage();
    return &image_;
  }
  Result<std::string> text = ReadWholeFile(file_);
  if (!text.ok()) return text.failure();
  if (text_ != text.value()) {
    Result<RegistryImage> image = RegistryImage::Parse(text.value(), file_);
    if (!image.ok()) return image.failure();
    image_ = std::move(image.value());
    text_ = std::move(text.value());
  }
  return &image_;
}

Status Registry::Store(RegistryImage image) {
  std::string text = image.Serialize();
  // An administrator may keep the file elsewhere behind a link.
  Status st = WriteFileAtomically(file_, text, AtLink::kWriteThrough);
  if (st.ok()) {
    text_ = std::move(text);
    image_ = std::move(image);
  }
  return st;
}

Result<bool> Registry::KeyExists(std::string_view key) const {
  Result<const RegistryImage*> image = Load();
  if (!image.ok()) return image.failure();
  return image.value()->FindKey(key) != nullptr;
}

Result<std::optional<RegistryValue>> Registry::QueryValue(
    std::string_view key, std::string_view name) const {
  Result<const RegistryImage*> image = Load();
  if (!image.ok()) return image.failure();
  const RegistryValue* v = image.value()->FindValue(key, name);
  return v ? std::optional<RegistryValue>(*v) : std::nullopt;
}

Status Registry::SetValue(std::string_view key, const RegistryValue& value) {
  Result<const RegistryImage*> image = Load();
  if (!image.ok()) return image.failure();
  if (image.value()->FindKey(key) == nullptr) {
    return Failure(kPathFileAccessError);
  }
  if (const RegistryValue* old = image.value()->FindValue(key, value.name);
      old && old->type == value.type &&
      FormatRegistryData(*old) == FormatRegistryData(value)) {
    return Status::Ok();  // unchanged: leave the file as it is
  }
  RegistryImage changed = *image.value();
  changed.SetValue(key, value);
  return Store(std::move(changed));
}

Status Registry::CreateKey(std::string_view key) {
  Result<const RegistryImage*> image = Load();
  if (!image.ok()) return image.failure();
  if (image.value()->FindKey(key) != nullptr) return Status::Ok();
  RegistryImage changed = *image.value();
  changed.AddKey(key);
  return Store(std::move(changed));
}

}  // namespace mv
