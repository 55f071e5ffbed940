#include "engine/airplay_service.h"

namespace quintalis {
namespace {

std::string withOkMember(const HTTPResponse& response) {
    if (response.status == 200 || response.contentType != "application/json") return response.body;
    auto body = parseJSON(response.body);
    if (!body || !body->is_object() || body->contains("ok") || !body->contains("error")) return response.body;
    (*body)["ok"] = false;
    return serializeJSON(*body);
}

}  // namespace

std::string serializeAirPlayResponse(const HTTPResponse& response) {
    const std::string body = withOkMember(response);
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + (response.status == 200 ? " OK" : " Error");
    head += "\r\nContent-Type: " + response.contentType;
    head += "\r\nContent-Length: " + std::to_string(body.size());
    // Frames are the user's screen at one moment; nothing should keep them.
    if (response.contentType.starts_with("image/")) head += "\r\nCache-Control: no-store";
    head += "\r\nConnection: close\r\n\r\n";
    return head + body;
}

std::unique_ptr<HTTPServer> serveHTTP(uint16_t port, AirPlayHandler handler) {
    auto server = std::make_unique<HTTPServer>(port, [handler = std::move(handler)](const HTTPRequest& request,
                                                                                    Responder responder) {
        AirPlayResponder reply{
            [responder](AirPlayReply answer) {
                HTTPResponse response;
                response.status = answer.status;
                response.contentType = std::move(answer.contentType);
                response.body = std::move(answer.body);
                responder.send(std::move(response));
            },
            [responder] { responder.drop(); },
            [responder] { return responder.clientGone(); },
            [responder] { responder.waitApart(); },
        };
        handler(request.path, request.query, reply);
    });
    server->setDialect({{.maxHead = kAirPlayMaxHead, .readsBody = false}, serializeAirPlayResponse});
    server->start();
    return server;
}

}  // namespace quintalis
