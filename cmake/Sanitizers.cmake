# OXMETA_SANITIZER=address builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; OXMETA_SANITIZER=thread with ThreadSanitizer;
# OXMETA_SANITIZER=fuzzer (clang) adds libFuzzer's coverage to the first
# (the fuzz target links libFuzzer itself).
if(OXMETA_SANITIZER STREQUAL "address")
    set(_oxmeta_san -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(OXMETA_SANITIZER STREQUAL "thread")
    set(_oxmeta_san -fsanitize=thread)
elseif(OXMETA_SANITIZER STREQUAL "fuzzer")
    set(_oxmeta_san -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
elseif(NOT OXMETA_SANITIZER STREQUAL "")
    message(FATAL_ERROR "OXMETA_SANITIZER must be empty, 'address', 'thread' or 'fuzzer'")
endif()
if(_oxmeta_san)
    add_compile_options(${_oxmeta_san} -fno-omit-frame-pointer -g)
    add_link_options(${_oxmeta_san})
endif()
