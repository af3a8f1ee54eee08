#include "tests/support/scripted_endpoint.h"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace tavro::testing {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using wire::Json;

} // namespace

void ScriptedEndpoint::serve() {
    while (!m_stop) {
        tcp::socket socket(m_io);
        boost::system::error_code ec;
        m_acceptor.accept(socket, ec);
        if (ec || m_stop)
            return;
        ++m_connections;
        try {
            beast::flat_buffer buffer;
            http::request<http::string_body> request;
            http::read(socket, buffer, request);
            if (!beast::websocket::is_upgrade(request)) {
                http::response<http::string_body> response(http::status::ok, 11);
                response.body() = m_version;
                response.prepare_payload();
                http::write(socket, response);
                continue;
            }
            beast::websocket::stream<tcp::socket> ws(std::move(socket));
            ws.accept(request);
            for (;;) {
                beast::flat_buffer message;
                ws.read(message);
                const Json parsed = Json::parse(beast::buffers_to_string(message.data()));
                const Reply reply{
                    [&](const Json& answer) {
                        ws.text(true);
                        ws.write(net::buffer(answer.dump()));
                    },
                    [&](const std::string& bytes) { net::write(ws.next_layer(), net::buffer(bytes)); }};
                const bool open = m_script(parsed, reply);
                if (!open)
                    break;
            }
        } catch (const std::exception&) {
            // The client went away.
        }
    }
}

} // namespace tavro::testing
