#include "faults/windows/import_patch.hpp"

#include <cstring>

namespace faults {

namespace {

void store(void** slot, void* value) {
  DWORD previous = 0;
  ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous);
  *slot = value;
  ::VirtualProtect(slot, sizeof *slot, previous, &previous);
}

}  // namespace

ImportPatch::ImportPatch(const char* module, const char* function, void* replacement) {
  auto* const base = reinterpret_cast<unsigned char*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  // The linker may give one module several descriptors; each has its own entries.
  for (auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    if (::_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), module) != 0) continue;
    if (descriptor->OriginalFirstThunk == 0) continue;  // no names left to match
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
      void** slot = reinterpret_cast<void**>(&slots->u1.Function);
      original_ = *slot;
      slots_.push_back(slot);
      store(slot, replacement);
    }
  }
}

ImportPatch::~ImportPatch() {
  for (void** slot : slots_) store(slot, original_);
}

}  // namespace faults
