# Fuzz targets of the dialogue's packet text rules, the firmware file reader and the firmware
# file check.
orvix_add_fuzzer(fuzz_packet_text SOURCES PacketTextFuzz.cpp LIBS orvix_upload_logic)
orvix_add_fuzzer(fuzz_firmware_reader SOURCES FirmwareReaderFuzz.cpp LIBS orvix_upload_logic)
orvix_add_fuzzer(fuzz_firmware_check SOURCES FirmwareCheckFuzz.cpp LIBS orvix_upload_logic)
# Coverage guidance needs the code under test instrumented, not only the fuzz entry points.
target_compile_options(orvix_upload_logic PRIVATE -fsanitize=fuzzer-no-link)
target_link_options(orvix_upload_logic INTERFACE -fsanitize=fuzzer-no-link)
