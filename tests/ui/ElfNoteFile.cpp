#include "ElfNoteFile.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace morvane::test {

namespace {

void Put32(std::vector<unsigned char>& out, uint32_t v) {
  unsigned char b[4];
  std::memcpy(b, &v, 4);
  out.insert(out.end(), b, b + 4);
}

void PutPadded(std::vector<unsigned char>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
  while (out.size() % 4) out.push_back(0);
}

}  // namespace

bool WriteNoteElf(const std::string& path, const std::string& text, const std::string& owner,
                  unsigned type) {
  if (elf_version(EV_CURRENT) == EV_NONE) return false;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = false;
  if (Elf* elf = elf_begin(fd, ELF_C_WRITE, nullptr)) {
    Elf64_Ehdr* eh = elf64_newehdr(elf);
    eh->e_ident[EI_DATA] = ELFDATA2LSB;
    eh->e_type = ET_REL;
    eh->e_machine = EM_X86_64;
    eh->e_version = EV_CURRENT;

    // The note: owner size, descriptor size, type, owner, descriptor, each padded to 4.
    std::vector<unsigned char> note;  // lives until elf_update has written it
    Put32(note, static_cast<uint32_t>(owner.size() + 1));
    Put32(note, static_cast<uint32_t>(text.size() + 1));
    Put32(note, type);
    PutPadded(note, owner);
    PutPadded(note, text);
    static const char names[] = "\0.note.package\0.shstrtab";

    Elf_Scn* noteScn = elf_newscn(elf);
    Elf_Data* noteData = elf_newdata(noteScn);
    noteData->d_buf = note.data();
    noteData->d_size = note.size();
    noteData->d_type = ELF_T_NHDR;
    noteData->d_align = 4;
    Elf64_Shdr* nsh = elf64_getshdr(noteScn);
    nsh->sh_name = 1;
    nsh->sh_type = SHT_NOTE;
    nsh->sh_flags = SHF_ALLOC;
    nsh->sh_addralign = 4;

    Elf_Scn* strScn = elf_newscn(elf);
    Elf_Data* strData = elf_newdata(strScn);
    strData->d_buf = const_cast<char*>(names);
    strData->d_size = sizeof names;
    strData->d_type = ELF_T_BYTE;
    strData->d_align = 1;
    Elf64_Shdr* ssh = elf64_getshdr(strScn);
    ssh->sh_name = 15;
    ssh->sh_type = SHT_STRTAB;
    ssh->sh_addralign = 1;
    eh->e_shstrndx = static_cast<Elf64_Half>(elf_ndxscn(strScn));

    ok = elf_update(elf, ELF_C_WRITE) >= 0;
    elf_end(elf);
  }
  close(fd);
  return ok;
}

std::string VersionJson(unsigned a, unsigned b, unsigned c, unsigned d, unsigned flags,
                        unsigned mask, const std::string& tableEntries,
                        const std::string& tableName) {
  return "{\"name\":\"test\",\"versionInfo\":{\"fixedFileInfo\":{\"fileVersionMS\":" +
         std::to_string((a << 16) | b) + ",\"fileVersionLS\":" + std::to_string((c << 16) | d) +
         ",\"fileFlagsMask\":" + std::to_string(mask) + ",\"fileFlags\":" + std::to_string(flags) +
         "},\"stringFileInfo\":{\"" + tableName + "\":{" + tableEntries + "}}}}";
}

}  // namespace morvane::test
