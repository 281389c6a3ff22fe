// The floor of a Qt program's start: an empty core application that says so once it exists.

#include <QCoreApplication>
#include <unistd.h>

int main(int argc, char* argv[])
{
    const QCoreApplication app(argc, argv);
    const char ready = 'r';
    return ::write(STDOUT_FILENO, &ready, 1) == 1 ? 0 : 1;
}
