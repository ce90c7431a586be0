#include "frame/handler.h"

namespace ovt::frame {

ComError toComError(std::exception_ptr p) {
  try {
    std::rethrow_exception(p);
  } catch (const ComError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return ComError(static_cast<int32_t>(RuntimeError::OutOfMemory), "",
                    std::string(runtimeErrorDescription(RuntimeError::OutOfMemory)));
  } catch (const std::exception& e) {
    return ComError(kGenericFailure, "", e.what());
  } catch (...) {
    return ComError(kGenericFailure, "", "Unknown error");
  }
}

void raiseUntrapped(int32_t number, std::string source, std::string description) {
  ComError e(number, std::move(source), std::move(description));
  e.setUntrapped();
  throw e;
}

void raiseNotBuilt(std::string_view member) {
  throw ComError(kNotImplemented, sourceFor(std::string(":") + std::string(member)),
                 std::string(member) + " is not available in this build yet");
}

}  // namespace ovt::frame
