# One program per situation: GLib keeps the first session bus it finds for the whole process.
murmelo_add_test(tst_SecretBackendNoBus LABEL unit SOURCES secret/tst_SecretBackendUnreachable.cpp
  LIBS murmelo_platform TIMEOUT 60)
murmelo_add_test(tst_SecretBackendSilentBus LABEL unit SOURCES secret/tst_SecretBackendUnreachable.cpp
  LIBS murmelo_platform TIMEOUT 60)
target_compile_definitions(tst_SecretBackendSilentBus PRIVATE MURMELO_SILENT_BUS)
