// The first failed table read of a decoder, kept while the other tables are
// still read: a damaged table loses its own rows, never its neighbours'.
#pragma once

#include <string_view>

#include "platform/Status.h"

namespace corvyn::decoders {

class FirstFailure {
 public:
  // Remembers `status` (with "reading <what>" in front of its words) when it
  // is the first failure noted.
  void Note(const Status& status, std::string_view what) {
    if (first_.ok() && !status.ok()) first_ = status.WithContext("reading " + std::string(what));
  }
  const Status& status() const { return first_; }

 private:
  Status first_;
};

}  // namespace corvyn::decoders
