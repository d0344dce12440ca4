# Release builds: hardened as Debian hardens its own packages, and reproducible, so
# that two builds of one commit in different directories agree byte for byte.
option(FWTALLY_RELEASE_BUILD "Harden the tool and keep the build machine out of it" OFF)
option(FWTALLY_STATIC "Link the tool statically (static-pie on Linux)" OFF)

if(FWTALLY_RELEASE_BUILD)
  # Source paths in the binaries are relative to the checkout, wherever it is.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
  if(WIN32)
    add_link_options(LINKER:--no-insert-timestamp)  # PE headers carry a link time otherwise
  else()
    # PIE, a stack protector, checked C library calls, and relocations made
    # read-only once resolved at start-up.
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    include(CheckPIESupported)
    check_pie_supported()
    add_compile_options(-fstack-protector-strong)
    add_compile_definitions(_FORTIFY_SOURCE=2)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
  endif()
endif()

if(FWTALLY_STATIC)
  if(WIN32)
    add_link_options(-static)
  else()
    # Runs on any Linux distribution, with no shared library present, and keeps
    # the address randomisation of a PIE.
    add_link_options(-static-pie)
  endif()
endif()
