       01 NLM-REC PIC X.
