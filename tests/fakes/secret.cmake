target_sources(murmelo_fakes PRIVATE SecretBackendFake.h)
