# The program's version block: the one place where its version and its version strings are set.
# Linux programs have no version resources, so the block goes into the program file itself as an
# ELF note in the ".note.package" section (the package-metadata note: owner "FDO", type
# 0xcafe1a7e, a NUL-terminated JSON text), where `readelf --notes` shows it and the about box
# reads it back.
set(MORVANE_FILE_VERSION 1 4 0 23)
set(MORVANE_PRODUCT_VERSION 1 4 0 23)
set(MORVANE_FILE_FLAGS_MASK 0x3F)
set(MORVANE_FILE_FLAGS 0x00)
set(MORVANE_FILE_OS 4)    # the value the block has always carried for its operating system
set(MORVANE_FILE_TYPE 1)  # application
set(MORVANE_STRINGS_FileDescription "Morvane")
set(MORVANE_STRINGS_FileVersion "1.4.0.23")
set(MORVANE_STRINGS_InternalName "morvane")
set(MORVANE_STRINGS_LegalTrademarks "Morvane (tm)")
set(MORVANE_STRINGS_ProductVersion "1.3")
set(MORVANE_STRINGS_Comments "added support for >9 COM ports")
set(MORVANE_STRINGS_ProductName "")
set(MORVANE_STRINGS_OriginalFilename "")
set(MORVANE_STRINGS_CompanyName "The Morvane developers")
set(MORVANE_STRINGS_LegalCopyright "© 2026 The Morvane developers")

# The two 32-bit halves of a four-part version, as a version block stores them.
function(morvane_version_words parts out_ms out_ls)
  list(GET parts 0 a)
  list(GET parts 1 b)
  list(GET parts 2 c)
  list(GET parts 3 d)
  math(EXPR ms "(${a} << 16) | ${b}")
  math(EXPR ls "(${c} << 16) | ${d}")
  set(${out_ms} ${ms} PARENT_SCOPE)
  set(${out_ls} ${ls} PARENT_SCOPE)
endfunction()

# morvane_add_version_note(<target>): links the version block into the target's program file.
function(morvane_add_version_note target)
  morvane_version_words("${MORVANE_FILE_VERSION}" file_ms file_ls)
  morvane_version_words("${MORVANE_PRODUCT_VERSION}" product_ms product_ls)
  math(EXPR mask "${MORVANE_FILE_FLAGS_MASK}")
  math(EXPR flags "${MORVANE_FILE_FLAGS}")
  string(JOIN "." version ${MORVANE_FILE_VERSION})

  set(json "{}")
  string(JSON json SET "${json}" name "\"${target}\"")
  string(JSON json SET "${json}" version "\"${version}\"")
  set(fixed "{}")
  foreach(pair "fileVersionMS;${file_ms}" "fileVersionLS;${file_ls}"
               "productVersionMS;${product_ms}" "productVersionLS;${product_ls}"
               "fileFlagsMask;${mask}" "fileFlags;${flags}" "fileOS;${MORVANE_FILE_OS}"
               "fileType;${MORVANE_FILE_TYPE}" "fileSubtype;0")
    list(GET pair 0 key)
    list(GET pair 1 value)
    string(JSON fixed SET "${fixed}" ${key} ${value})
  endforeach()
  set(table "{}")
  foreach(key FileDescription FileVersion InternalName LegalTrademarks ProductVersion Comments
              ProductName OriginalFilename CompanyName LegalCopyright)
    # Each value as a JSON string: quotes and backslashes escaped.
    string(REPLACE "\\" "\\\\" value "${MORVANE_STRINGS_${key}}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(JSON table SET "${table}" ${key} "\"${value}\"")
  endforeach()
  set(strings "{}")
  string(JSON strings SET "${strings}" "040904E4" "${table}")
  set(block "{}")
  string(JSON block SET "${block}" fixedFileInfo "${fixed}")
  string(JSON block SET "${block}" stringFileInfo "${strings}")
  string(JSON json SET "${json}" versionInfo "${block}")

  set(json_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.json")
  set(note_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_version_note.c")
  file(CONFIGURE OUTPUT "${json_file}" CONTENT "${json}")
  # A top-level asm block, so that no compiler instrumentation (sanitizer red zones) pads it.
  file(CONFIGURE OUTPUT "${note_file}" @ONLY CONTENT [=[
/* Generated from VersionNote.cmake: the program's version block as an ELF note. */
__asm__(
    "  .pushsection .note.package, \"a\", %note\n"
    "  .balign 4\n"
    "  .long 4\n"                 /* owner name size, with its NUL */
    "  .long 2f - 1f\n"           /* descriptor size: the JSON text and its NUL */
    "  .long 0xcafe1a7e\n"        /* package-metadata note type */
    "  .asciz \"FDO\"\n"
    "1:.incbin \"@json_file@\"\n"
    "  .byte 0\n"
    "2:.balign 4\n"
    "  .popsection\n");
]=])
  set_source_files_properties("${note_file}" PROPERTIES OBJECT_DEPENDS "${json_file}")
  target_sources(${target} PRIVATE "${note_file}")
endfunction()
