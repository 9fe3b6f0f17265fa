// Short names for the networking libraries, as the clients use them.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/verb.hpp>

namespace game501::load {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

}  // namespace game501::load
