// The program's entry point lives in the ui library.
int TessalyMain(int argc, char *argv[]);

int main(int argc, char *argv[])
{
    return TessalyMain(argc, argv);
}
