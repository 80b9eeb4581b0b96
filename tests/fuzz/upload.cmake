# Fuzz targets of the dialogue's packet text rules and the firmware file reader.
orvix_add_fuzzer(fuzz_packet_text SOURCES PacketTextFuzz.cpp LIBS orvix_upload_logic)
orvix_add_fuzzer(fuzz_firmware_reader SOURCES FirmwareReaderFuzz.cpp LIBS orvix_upload_logic)
