       01 CRM-A PIC X.
       01 CRM-B PIC X.
