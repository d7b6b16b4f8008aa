// Temporary files whose names a signal handler can find: the names of the temporaries this process
// has created and not yet renamed or removed stand in a fixed table, so that a handler that ends
// the process at once can remove them with nothing but unlink.
#pragma once

#include <string>

namespace platform {

// A new file, created empty with mode 0600, close-on-exec, under a name that did not exist: the
// prefix followed by six random letters and digits. Its name is entered in the table before the
// file is created, so no moment passes in which the file exists unlisted.
class RegisteredTemporary {
 public:
  // Creates the file; Descriptor() is negative when that failed (errno tells why).
  explicit RegisteredTemporary(const std::string& pathPrefix);
  // Takes the name off the table; the file itself stays as it is.
  ~RegisteredTemporary();
  RegisteredTemporary(const RegisteredTemporary&) = delete;
  RegisteredTemporary& operator=(const RegisteredTemporary&) = delete;

  int Descriptor() const { return descriptor_; }
  const std::string& Path() const { return path_; }
  // The file has been renamed or removed: its name leaves the table.
  void Forget();

 private:
  std::string path_;
  int descriptor_ = -1;
  int slot_ = -1;  // the table entry holding the name; -1 when the table was full
};

// Removes every file named in the table, waiting a moment for files other threads are creating.
// Async-signal-safe: for a signal handler that ends the process at once. From then on the process
// creates no registered temporary: a constructor fails with EINTR.
void RemoveRegisteredTemporaries() noexcept;

}  // namespace platform
