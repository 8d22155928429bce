#include "picture/LoadOutcome.h"

namespace kevrale {

const char* LoadFailureText(LoadFailure failure) {
  switch (failure) {
    case LoadFailure::CannotOpen:
      return "cannot open";
    case LoadFailure::NotThisFormat:
      return "not this format";
    case LoadFailure::BrokenData:
      return "broken data";
    case LoadFailure::Aborted:
      return "aborted";
    case LoadFailure::OutOfMemory:
      return "out of memory";
    case LoadFailure::PluginResult:
      return "failed";
    case LoadFailure::PluginCrashed:
      return "crashed";
    case LoadFailure::PluginNoAnswer:
      return "gave no answer";
    case LoadFailure::PluginNotStarted:
      return "could not be started";
  }
  return "failed";
}

std::string LoadOutcome::Text() const {
  std::string text;
  for (const LoadAttempt& a : Attempts) {
    if (!text.empty()) text += "; ";
    text += a.Reader;
    text += ": ";
    text += LoadFailureText(a.Failure);
    if (a.Failure == LoadFailure::PluginResult)
      text += " with result " + std::to_string(a.ResultCode);
    if (a.Failure == LoadFailure::PluginNoAnswer && !a.Detail.empty())
      text += " within " + a.Detail;
    else if (!a.Detail.empty())
      text += " (" + a.Detail + ")";
  }
  return text;
}

}  // namespace kevrale
