# Run by CPack before it packs a build made with ORVIX_SANITIZE: such binaries need the
# sanitizer runtimes and are no product. scripts/package.sh builds the package as it should be.
message(FATAL_ERROR "This build folder was configured with -DORVIX_SANITIZE=ON: build the "
                    "package from a Release build instead (scripts/package.sh)")
