#include "plugin_file_check.h"

#include <elf.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "vyxhost/vyxhost.h"

namespace vyxhost {

namespace {

#if UINTPTR_MAX == 0xffffffffu
using Ehdr = Elf32_Ehdr;
using Phdr = Elf32_Phdr;
constexpr unsigned char kClass = ELFCLASS32;
constexpr const char* kClassName = "32-bit";
#else
using Ehdr = Elf64_Ehdr;
using Phdr = Elf64_Phdr;
constexpr unsigned char kClass = ELFCLASS64;
constexpr const char* kClassName = "64-bit";
#endif

#if defined(__x86_64__)
constexpr unsigned kMachine = EM_X86_64;
#elif defined(__i386__)
constexpr unsigned kMachine = EM_386;
#elif defined(__aarch64__)
constexpr unsigned kMachine = EM_AARCH64;
#else
constexpr unsigned kMachine = 0;  // not checked
#endif

[[noreturn]] void bad(const std::string& path, const std::string& why) {
  throw LoadError("cannot load " + path + ": " + why);
}

template <typename T>
T readAt(std::ifstream& in, const std::string& path, uint64_t offset) {
  T value{};
  in.seekg(static_cast<std::streamoff>(offset));
  if (!in.read(reinterpret_cast<char*>(&value), sizeof value)) bad(path, "the file is cut short");
  return value;
}

}  // namespace

void checkPluginFile(const std::string& path) {
  // A bare name is for the system's loader to look up in its own places.
  if (path.find('/') == std::string::npos) return;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) bad(path, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) bad(path, "not a regular file");
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  std::ifstream in(path, std::ios::binary);
  if (!in) bad(path, "cannot be read");
  if (size < sizeof(Ehdr))
    bad(path, "too short for a shared object (" + std::to_string(size) + " bytes)");
  const Ehdr eh = readAt<Ehdr>(in, path, 0);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) bad(path, "not an ELF object");
  if (eh.e_ident[EI_CLASS] != kClass)
    bad(path, std::string("not a ") + kClassName + " object, as this program is");
  if (eh.e_type != ET_DYN) bad(path, "not a shared object");
  if (kMachine != 0 && eh.e_machine != kMachine) bad(path, "built for another processor");
  const uint64_t phOffset = eh.e_phoff, phCount = eh.e_phnum;
  if (eh.e_phentsize != sizeof(Phdr) || phOffset + phCount * sizeof(Phdr) > size)
    bad(path, "its program headers are cut off");
  const uint64_t shOffset = eh.e_shoff, shCount = eh.e_shnum, shEntry = eh.e_shentsize;
  const uint64_t shEnd = shOffset + shCount * shEntry;
  for (unsigned i = 0; i < eh.e_phnum; ++i) {
    const Phdr ph = readAt<Phdr>(in, path, eh.e_phoff + uint64_t{i} * sizeof(Phdr));
    if (ph.p_type == PT_LOAD && uint64_t{ph.p_offset} + ph.p_filesz > size) {
      bad(path, "the file is cut short: " + std::to_string(size) + " bytes, its contents need " +
                    std::to_string(uint64_t{ph.p_offset} + ph.p_filesz));
    }
  }
  if (eh.e_shoff != 0 && shEnd > size)
    bad(path, "the file is cut short: its section table ends at byte " + std::to_string(shEnd));
}

}  // namespace vyxhost
