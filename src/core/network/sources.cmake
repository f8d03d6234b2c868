target_sources(murmelo_core PRIVATE
  network/HeaderValue.h network/HeaderValue.cpp
  network/TransportErrors.h network/TransportErrors.cpp
  network/HttpExchange.h network/HttpExchange.cpp)
