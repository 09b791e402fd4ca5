#pragma once
// A loopback HTTPS server for tests: a self-signed certificate for 127.0.0.1 made at start with the
// openssl command, served by "openssl s_server -WWW" as a child process. Files written with
// put_page are served at "/<name>". ok() is false when openssl is missing or did not start.
#include <sys/types.h>
#include <string>

class TlsServer {
public:
    TlsServer();
    ~TlsServer();  // ends the child and removes its files
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    std::string base_url() const;  // "https://127.0.0.1:PORT"
    // PEM file that makes a client trust this server (its certificate is its own authority).
    std::string ca_file() const { return dir_ + "/cert.pem"; }
    bool put_page(const std::string& name, const std::string& body) const;

private:
    std::string dir_;
    pid_t child_ = -1;
    int port_ = 0;
};
