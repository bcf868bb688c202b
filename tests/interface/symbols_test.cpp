// The library exports its interface and nothing else.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Names of the defined, globally visible symbols of a 64-bit ELF shared object.
std::vector<std::string> exportedNames(const std::string& bytes) {
  std::vector<std::string> names;
  if (bytes.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, bytes.data(), sizeof header);
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  for (size_t k = 0; k < sections.size(); ++k) {
    std::memcpy(&sections[k], bytes.data() + header.e_shoff + k * header.e_shentsize,
                sizeof(Elf64_Shdr));
  }
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strings = sections[section.sh_link];
    for (size_t offset = 0; offset + sizeof(Elf64_Sym) <= section.sh_size;
         offset += sizeof(Elf64_Sym)) {
      Elf64_Sym symbol;
      std::memcpy(&symbol, bytes.data() + section.sh_offset + offset, sizeof symbol);
      const int binding = ELF64_ST_BIND(symbol.st_info);
      if (symbol.st_shndx == SHN_UNDEF || symbol.st_name == 0) continue;
      if (binding != STB_GLOBAL && binding != STB_WEAK) continue;
      names.emplace_back(bytes.data() + strings.sh_offset + symbol.st_name);
    }
  }
  return names;
}

TEST(DynamicSymbols, OnlyTheExportsAndTheStringHelpersAreVisible) {
  const std::set<std::string> allowed = {"exp_initMatrix_v3",
                                         "exp_deleteMatrix_v3",
                                         "exp_incrMatrixElem_v3",
                                         "exp_setMatrixElem_v3",
                                         "exp_createCCS_v3",
                                         "exp_factor_v3",
                                         "exp_solve_v3",
                                         "exp_eigenSystem_v3",
                                         "exp_checksSettings_v3",
                                         "exp_getMaxDiag_v3",
                                         "exp_multVector_v3",
                                         "exp_writeMatrix_v3",
                                         "exp_logDestination_v3",
                                         "exp_getLastError_v3",
                                         "exp_LAPACK_DSPGVD_v3",
                                         "exp_mediaSismica_init_v3",
                                         "exp_mediaSismica_calc24_v3",
                                         "exp_mediaSismica_free_v3",
                                         "SysAllocStringByteLen",
                                         "SysStringByteLen",
                                         "SysFreeString"};
  const std::vector<std::string> names = exportedNames(orv::test::readFile(ORV_LIBRARY_FILE));
  ASSERT_FALSE(names.empty()) << "no dynamic symbols read from " << ORV_LIBRARY_FILE;
  for (const std::string& name : names) EXPECT_TRUE(allowed.count(name)) << name;
  for (const char* required :
       {"exp_initMatrix_v3", "exp_deleteMatrix_v3", "exp_logDestination_v3", "exp_getLastError_v3",
        "SysAllocStringByteLen", "SysStringByteLen", "SysFreeString"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), required), names.end()) << required;
  }
}

}  // namespace
