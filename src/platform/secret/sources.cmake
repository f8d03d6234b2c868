target_sources(murmelo_platform PRIVATE
  secret/SecretBackendLibsecret.h secret/SecretBackendLibsecret.cpp)
