#pragma once
// Saving never destroys the old file: the text goes to a temporary file in the target's
// directory, is flushed to disk, and replaces the target by a rename, which the file
// system does at once or not at all; the directory is flushed too, so the rename itself
// survives a power cut. A failure at any step removes the temporary file and leaves the
// target as it was. A symbolic link is followed: the file it points to is replaced, the
// link stays. The new file takes the permissions of the one it replaces (else 0666 less
// the umask).

#include <cstddef>
#include <string>
#include <string_view>

namespace velkor {

// Writes text as the whole new content of path. Throws VelkorError "Не удалось записать
// файл <path>: <system's error text>".
void WriteFileAtomically(const std::string& path, std::string_view text);

// The same for content produced piece by piece (a big project is never held whole):
// Write the pieces, then Commit. Destroyed without a successful Commit, it removes its
// temporary file.
class AtomicFile {
 public:
  // Creates the temporary file; throws as WriteFileAtomically does.
  explicit AtomicFile(const std::string& path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Appends; after a failure the rest is dropped and Commit throws.
  void Write(const void* data, size_t size);
  // Flushes, closes and renames over the target.
  void Commit();

 private:
  void Discard();
  [[noreturn]] void Fail(int error);

  std::string m_path;    // as given, for messages
  std::string m_target;  // the file replaced (a link resolved)
  std::string m_dir;
  std::string m_temp;
  int m_fd = -1;
  int m_error = 0;
};

}  // namespace velkor
