#include "ui/phone_app.h"

int main(int argc, char** argv)
{
    velnar::CPhoneApp app(argc, argv);
    return app.InitInstance();
}
