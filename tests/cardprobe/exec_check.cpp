// Runs a program and tells a kernel that refuses its format (ENOEXEC, "Exec
// format error") from every other failure. A kernel built without 32-bit
// support refuses every 32-bit program so, and wine32 cannot run there.
// Exit status: 0 the program ran and succeeded; 77 the kernel refused its
// format; 1 it could not be started otherwise, or it failed.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
        return 1;
    }
    // The child reports a failed exec through a pipe that a successful exec closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        return 1;
    }
    pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        close(report[0]);
        // execv, not execvp: execvp hands a file of unknown format to the shell.
        execv(argv[1], argv + 1);
        int error = errno;
        if (write(report[1], &error, sizeof error) != sizeof error) _exit(126);
        _exit(127);
    }
    close(report[1]);
    int error = 0;
    ssize_t n;
    do n = read(report[0], &error, sizeof error);
    while (n < 0 && errno == EINTR);
    close(report[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (n == static_cast<ssize_t>(sizeof error)) {
        std::printf("%s: %s\n", argv[1], std::strerror(error));
        return error == ENOEXEC ? 77 : 1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
    std::printf("%s ran and failed (wait status %d)\n", argv[1], status);
    return 1;
}
