// Loads a component list and the configuration types from the data source named on the command
// line, through the installed library.
#include <qix/sql/ComponentList.h>
#include <qix/sql/ConfigurationInterface.h>
#include <qix/sql/Database.h>
#include <qix/util/exceptions.h>

#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    try {
        qix::sql::Database db(argv[1], "", "");
        qix::sql::ComponentList list;
        list.read_from_db(db, "lumen");
        qix::sql::ConfigurationInterface cfg(db, "CFG");
        std::cout << argv[1] << ": " << list.components_.size() << " components of LUMEN, " << cfg.read_types().size()
                  << " configuration types\n";
    } catch (const qix::Error& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
