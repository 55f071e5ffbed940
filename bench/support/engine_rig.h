#pragma once

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/http_server.h"
#include "engine/routes.h"
#include "phones/devices.h"
#include "simulator/simulator.h"

namespace quintalis::bench {

// The engine's API over one virtual iPhone, served on a free loopback port,
// with "/simulator" answering what the phone really shows. Ready once
// constructed: the phone is connected, shows a picture and is matched.
struct EngineRig {
    explicit EngineRig(RouteOptions options = {})
        : routes(peripheral, devices, Clock::real(), std::move(options)),
          server(0, [this](const HTTPRequest& request, Responder reply) {
              if (request.path == "/simulator") return reply.send(HTTPResponse::json(phones.groundTruth()));
              routes.handle(request, reply);
          }) {
        peripheral.start();
        capture.start();
        server.start();
        while (peripheral.connectedHosts().empty() || capture.all().empty() || !capture.all().front()->size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        devices.match(false, false);
    }

    simulator::Simulator phones{{simulator::PhoneSetup{}}};
    HIDPeripheral peripheral{phones.radio(), "Skiffline"};
    ScreenCapture capture{phones.cameras(), Clock::real()};
    Devices devices{capture, peripheral, Clock::real(),
                    std::filesystem::temp_directory_path() / "quintalis-bench" / "pairings.json"};
    Routes routes;
    HTTPServer server;
};

}  // namespace quintalis::bench
