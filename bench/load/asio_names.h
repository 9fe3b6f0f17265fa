// Short names for the networking libraries, as the clients use them.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/verb.hpp>

namespace load {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

}  // namespace load
