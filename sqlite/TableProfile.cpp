#include "sqlite/TableProfile.h"

#include <cctype>

namespace corvyn::sqlite {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::optional<uint32_t> TableProfile::DeclaredIndex(std::string_view name) const {
  for (std::size_t i = 0; i < declaredColumns.size(); ++i) {
    if (EqualsIgnoringAsciiCase(declaredColumns[i], name)) return static_cast<uint32_t>(i);
  }
  return std::nullopt;
}

std::size_t TableProfile::ResolveTakenColumns() {
  std::size_t moved = 0;
  for (TakenColumn& column : taken) {
    const std::optional<uint32_t> declared = DeclaredIndex(column.name);
    if (declared && *declared != column.number) {
      column.number = *declared;
      ++moved;
    }
  }
  return moved;
}

uint32_t TableProfile::CarvedColumnCount() const {
  switch (carvedColumns) {
    case CarvedColumns::kExpected:
      return columnCount;
    case CarvedColumns::kLiveOrExpected:
      return liveColumnCount > 0 ? liveColumnCount : columnCount;
    case CarvedColumns::kLiveOnly:
      return liveColumnCount;
  }
  return columnCount;
}

}  // namespace corvyn::sqlite
