// The skin: our skin library, mapped from memory at start-up, attached to
// the main window once it exists.
#pragma once

#include <cstdint>

#include "skin/memory_library.h"
#include "text/text.h"

namespace taviro {

// The process's one MemoryLibrary for the skin library, empty until
// LoadSkinLibrary. It is never freed: the library stays mapped until the
// process ends.
MemoryLibrary& SkinLibrary();

// The constant byte strings; they live as long as the process, so the
// library may keep the skin's address.
const Bytes& SkinLibraryImage();
const Bytes& SkinData();

// Maps SkinLibraryImage into SkinLibrary; start-up goes on whatever the
// outcome.
void LoadSkinLibrary();

// Calls the library's SkinH_AttachRes with the skin's address and length,
// the password's address (0 for none) and three integers; answers its
// result. 0 without calling when the library has no such export, or when an
// address does not fit the 32 bits the library takes.
uint32_t AttachSkin(const Bytes& skin, const Text* password = nullptr, uint32_t first = 0,
                    uint32_t second = 0, uint32_t third = 0);

// The same with the skin and password given by address (0: none).
uint32_t AttachSkinAt(uintptr_t skin, uint32_t length, uintptr_t password, uint32_t first,
                      uint32_t second, uint32_t third);

// The main window's created event: attaches SkinData once.
void OnMainWindowCreated();

}  // namespace taviro
