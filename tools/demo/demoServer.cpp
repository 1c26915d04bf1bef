// A stand-in for the update server's script on this machine, for the demonstration: it answers KV's and
// Update's update request with the Result given (0, no update, by default) and accepts every software
// submission, printing the fields it received.
//
//     demoServer [port [update result]]
//
// Point the programs at it with KORVANE_SERVER_URL=http://127.0.0.1:<port>/communicate.php (run-demo does).

#include <cstdlib>
#include <httplib.h>
#include <iostream>
#include <string>

int main(int argc, char* argv[]) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 8080;
    const std::string updateResult = argc > 2 ? argv[2] : "0";
    httplib::Server server;
    server.Post("/communicate.php", [&](const httplib::Request& request, httplib::Response& response) {
        const std::string command = request.get_param_value("Command");
        std::cout << "POST /communicate.php\n";
        for (const auto& [name, value] : request.params)
            std::cout << "  " << name << " = " << value << "\n";
        std::cout.flush();
        const std::string result = command == "Update" ? updateResult : "1";
        response.set_content("System=Rudarorovod\r\nCommand=" + command + "\r\n\r\nResult=" + result + "\r\n",
                             "text/html");
    });
    std::cout << "The update server's script at http://127.0.0.1:" << port << "/communicate.php\n";
    if (!server.listen("127.0.0.1", port)) {
        std::cerr << "cannot listen on port " << port << "\n";
        return 1;
    }
    return 0;
}
