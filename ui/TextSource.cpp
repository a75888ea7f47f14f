#include "ui/TextSource.h"

namespace corvyn::ui {
namespace {

class EmptyTextSource final : public ITextSource {
 public:
  TextSection& Section(const std::string& name) override { return sections_[name]; }

 private:
  std::map<std::string, TextSection> sections_;
};

ITextSource* installed = nullptr;

}  // namespace

void SetTextSource(ITextSource* source) {
  installed = source;
}

ITextSource& Texts() {
  static EmptyTextSource empty;
  return installed != nullptr ? *installed : empty;
}

}  // namespace corvyn::ui
