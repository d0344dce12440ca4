# Release builds: hardened as Debian hardens its own packages, and reproducible, so
# that two builds of one commit in different directories agree byte for byte.
option(FWTALLY_RELEASE_BUILD "Harden the tool and keep the build machine out of it" OFF)
option(FWTALLY_STATIC "Link the tool statically as static-pie (Linux)" OFF)

if(FWTALLY_RELEASE_BUILD)
  # Source paths in the binaries are relative to the checkout, wherever it is.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
  if(EMSCRIPTEN)
    # WebAssembly runs in the browser's sandbox: no loader, no stack to clash.
  elseif(WIN32)
    add_link_options(LINKER:--no-insert-timestamp)  # PE headers carry a link time otherwise
  else()
    # PIE, a stack protector with probes for large frames, checked C library
    # calls, and relocations made read-only once resolved at start-up.
    add_compile_options(-fPIE -fstack-protector-strong -fstack-clash-protection)
    add_compile_definitions(_FORTIFY_SOURCE=2)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
  endif()
endif()

# A static build runs on any Linux distribution, with no shared library present;
# static-pie keeps the address randomisation of a PIE.
if(FWTALLY_STATIC AND NOT WIN32)
  add_link_options(-static-pie)
elseif(FWTALLY_RELEASE_BUILD AND NOT WIN32 AND NOT EMSCRIPTEN)
  add_link_options(-pie)
endif()
