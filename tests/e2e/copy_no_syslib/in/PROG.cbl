       COPY ANY.
