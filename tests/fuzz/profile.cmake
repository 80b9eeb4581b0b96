# Fuzz target of the settings file's parser and one-key rewrite.
orvix_add_fuzzer(fuzz_profile_file SOURCES ProfileFileFuzz.cpp LIBS orvix_platform_os)
