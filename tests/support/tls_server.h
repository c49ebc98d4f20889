// A MariaDB server of a test's own that offers TLS and refuses every session
// without it (--require-secure-transport), started by the test server script
// (FENNROW_TEST_SERVER_SCRIPT) with a CA and a certificate made with openssl
// in a temporary folder, and stopped when it goes.
//
//   fennrow_test::temp_folder dir;
//   fennrow_test::certificates certs(dir.path());
//   fennrow_test::tls_server server(certs, dir.path());
//   server.srv;                         // its host, port, user and password
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "test_server.h"

namespace fennrow_test {

// Runs a shell command (paths of mkdtemp, no other text); a failure fails
// the test with the command's output.
inline void run_shell(const std::string& command, const std::string& log) {
    const int rc = std::system((command + " >" + log + " 2>&1").c_str());
    if (rc != 0) {
        std::ifstream in(log, std::ios::binary);
        fail_test("failed (" + std::to_string(rc) + "): " + command + "\n" +
                  std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
}

// A CA, a second CA that signs nothing, and the server's certificate for
// 127.0.0.1 signed by the first, all in `dir`.
struct certificates {
    std::string ca, other_ca, cert, key;

    explicit certificates(const std::string& dir)
        : ca(dir + "/ca.pem"), other_ca(dir + "/other-ca.pem"), cert(dir + "/server.pem"), key(dir + "/server.key") {
        const std::string log = dir + "/openssl.log";
        const std::string new_ca = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj ";
        run_shell(new_ca + "'/CN=Fennrow test CA' -keyout " + dir + "/ca.key -out " + ca, log);
        run_shell(new_ca + "'/CN=Other test CA' -keyout " + dir + "/other-ca.key -out " + other_ca, log);
        run_shell("openssl req -newkey rsa:2048 -nodes -subj '/CN=127.0.0.1' -keyout " + key + " -out " + dir +
                      "/server.csr",
                  log);
        std::ofstream(dir + "/server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
        run_shell("openssl x509 -req -days 2 -set_serial 1 -in " + dir + "/server.csr -CA " + ca + " -CAkey " + dir +
                      "/ca.key -extfile " + dir + "/server.ext -out " + cert,
                  log);
    }
};

// The folder of a server started by the script; the server in it is stopped
// when this goes, also after a start that failed half-way.
struct server_folder {
    std::string path;
    ~server_folder() {
        const std::string stop = std::string("bash ") + FENNROW_TEST_SERVER_SCRIPT + " stop " + path;
        if (std::system((stop + " >/dev/null 2>&1").c_str()) != 0)
            ADD_FAILURE() << "cannot stop the TLS server in " << path;
    }
};

class tls_server {
public:
    tls_server(const certificates& c, const std::string& dir) : folder_{dir + "/server"} {
        const std::string args = "--ssl-ca=" + c.ca + " --ssl-cert=" + c.cert + " --ssl-key=" + c.key +
                                 " --require-secure-transport=ON";
        run_shell("EXTRA_MYSQLD_ARGS='" + args + "' bash " + FENNROW_TEST_SERVER_SCRIPT + " start " + folder_.path,
                  dir + "/server.log");
        std::string why;
        if (!load_test_server_from(folder_.path, srv, why)) fail_test(why);
    }

    // A global status counter of the server.
    unsigned long status(const std::string& name) const {
        test_sql_conn admin(srv, "");
        const auto rows = admin.rows("SHOW GLOBAL STATUS LIKE '" + name + "'");
        if (rows.size() != 1 || rows[0].size() != 2 || !rows[0][1]) fail_test("no status " + name);
        return std::stoul(*rows[0][1]);
    }

    test_server srv;

private:
    server_folder folder_;
};

// A folder under /tmp, removed with everything in it at the end.
class temp_folder {
public:
    temp_folder() {
        char tmpl[] = "/tmp/fn-tls.XXXXXX";
        if (!::mkdtemp(tmpl)) fail_test("mkdtemp failed");
        path_ = tmpl;
    }
    ~temp_folder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace fennrow_test
