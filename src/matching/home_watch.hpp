// What the original Path.home() reads the home directory from, watched so that
// it is asked again only after that has changed.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// Path.home() is str(os.path.expanduser("~")) made a path: while Path.home is the
// original, its answer (or its failure) changes only with the function
// os.path.expanduser or the HOME entry of os.environ. A callback may change
// either in the middle of a call.
class HomeWatch {
 public:
  // True when both are the objects they were at the last look; the first look,
  // and any layout of `os` other than the expected one, count as a change.
  bool unchanged();

 private:
  Ref expanduser_;
  Ref environ_data_;
  Ref home_entry_;
  bool seen_ = false;
};

}  // namespace pm
