// The parts a front end composes for a run: the services it reports
// through, the request it builds, the configuration files, the engine
// that reads that request and the client of the root stick writer.
#pragma once

#include "config/config_model.h"
#include "config/setup_record.h"
#include "engine/media_engine.h"
#include "engine/stick_writer_client.h"
#include "platform/app_services.h"

namespace flintmere {

struct AppParts {
    explicit AppParts(PlatformServices platform)
        : services(std::move(platform)),
          config(services),
          engine(services, record),
          stickWriter(engine) {}
    AppParts(const AppParts&) = delete;
    AppParts& operator=(const AppParts&) = delete;

    AppServices services;
    SetupRecord record;
    ConfigModel config;
    MediaEngine engine;
    // The window's and the rollout's way to the root stick writer.
    StickWriterClient stickWriter;
};

}  // namespace flintmere
