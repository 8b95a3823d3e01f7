#include "core/result.h"

namespace duo {

std::string_view toString(ErrorCode code) {
  switch (code) {
    case ErrorCode::Io:
      return "Io";
    case ErrorCode::Empty:
      return "Empty";
    case ErrorCode::Truncated:
      return "Truncated";
    case ErrorCode::Corrupt:
      return "Corrupt";
    case ErrorCode::Unsupported:
      return "Unsupported";
    case ErrorCode::TooLarge:
      return "TooLarge";
    case ErrorCode::InvalidArgument:
      return "InvalidArgument";
  }
  return "Unknown";
}

}  // namespace duo
