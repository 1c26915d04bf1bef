// A stand-in for the update server's script on this machine, for the demonstration: it answers KV's and
// Update's update request with the Result given (0, no update, by default) and accepts every software
// submission, printing the fields it received.
//
//     demoServer [port [update result]]
//
// With a Result above 0 it offers a real update: newer versions of the demonstration's databases
// (database.txt read with update.txt after it, so with update.txt's newer stamps), packed as zlib streams
// and served by this server under /files/, with the digests of the unpacked files. A client whose databases
// already carry those stamps is told that there is nothing new (Result 0), so an updated KV does not start
// Update again. Port 0 takes any free port; the first line printed names the address.
//
// Point the programs at it with KORVANE_SERVER_URL=http://127.0.0.1:<port>/communicate.php (run-demo does).

#include "tests/support/updateFiles.h"
#include "tools/databaseWriter.h"

#include <cstdlib>
#include <fstream>
#include <httplib.h>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string ReadText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One newer database file as the server offers it: its stamp, its download and its digest once unpacked.
struct TOfferedFile {
    int64_t Stamp = 0;
    std::string Packed;
    std::string Md5;
};

TOfferedFile Offer(int64_t stamp, const std::string& content) {
    return {stamp, Packed(content), Md5Text(content)};
}

// Whether the version the client sent is older than the offered file's.
bool IsOlder(const httplib::Request& request, const char* field, const TOfferedFile& file) {
    return std::strtoll(request.get_param_value(field).c_str(), nullptr, 10) < file.Stamp;
}

} // namespace

int main(int argc, char* argv[]) {
    const int requestedPort = argc > 1 ? std::atoi(argv[1]) : 8080;
    const std::string updateResult = argc > 2 ? argv[2] : "0";
    const std::string descriptions = KORVANE_DEMO_DESCRIPTIONS;
    TOfferedFile data;
    TOfferedFile soft;
    try {
        const TDatabaseWriter newer = TDatabaseWriter::Parse(ReadText(descriptions + "/database.txt") + "\n" +
                                                             ReadText(descriptions + "/update.txt"));
        data = Offer(newer.DataStamp, newer.DataFileContent());
        soft = Offer(newer.SoftStamp, newer.SoftFileContent());
    } catch (const std::exception& error) {
        std::cerr << "demoServer: " << error.what() << "\n";
        return 1;
    }

    httplib::Server server;
    const int port = requestedPort == 0
                         ? server.bind_to_any_port("127.0.0.1")
                         : (server.bind_to_port("127.0.0.1", requestedPort) ? requestedPort : -1);
    if (port <= 0) {
        std::cerr << "cannot listen on port " << requestedPort << "\n";
        return 1;
    }
    const std::string address = "http://127.0.0.1:" + std::to_string(port);

    server.Post("/communicate.php", [&](const httplib::Request& request, httplib::Response& response) {
        const std::string command = request.get_param_value("Command");
        std::cout << "POST /communicate.php\n";
        for (const auto& [name, value] : request.params)
            std::cout << "  " << name << " = " << value << "\n";
        std::cout.flush();
        std::string reply = "System=Rudarorovod\r\nCommand=" + command + "\r\n\r\n";
        if (command != "Update") {
            response.set_content(reply + "Result=1\r\n", "text/html");
            return;
        }
        if (std::atoi(updateResult.c_str()) <= 0) {
            response.set_content(reply + "Result=" + updateResult + "\r\n", "text/html");
            return;
        }
        const bool offerData = IsOlder(request, "DataVer", data);
        const bool offerSoft = IsOlder(request, "SoftDataVer", soft);
        if (!offerData && !offerSoft) {
            response.set_content(reply + "Result=0\r\n", "text/html");
            return;
        }
        // Lines 6 to 11: the addresses of the program, the main and the software database, then their
        // digests. The program is never offered.
        reply += "Result=" + updateResult + "\r\n\r\n\r\nProgram=\r\n";
        reply += "Data=" + (offerData ? address + "/files/KV.dat" : "") + "\r\n";
        reply += "Soft=" + (offerSoft ? address + "/files/soft.dat" : "") + "\r\n";
        reply += "ProgramMd5=\r\nDataMd5=" + data.Md5 + "\r\nSoftMd5=" + soft.Md5 + "\r\n";
        response.set_content(reply, "text/html");
    });
    for (const auto& [path, file] :
         {std::pair{"/files/KV.dat", &data}, std::pair{"/files/soft.dat", &soft}}) {
        server.Get(path, [path, file](const httplib::Request&, httplib::Response& response) {
            std::cout << "GET " << path << "\n";
            std::cout.flush();
            response.set_content(file->Packed, "application/octet-stream");
        });
    }

    std::cout << "The update server's script at " << address << "/communicate.php" << std::endl;
    if (!server.listen_after_bind()) {
        std::cerr << "cannot listen on port " << port << "\n";
        return 1;
    }
    return 0;
}
